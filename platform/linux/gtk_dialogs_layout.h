// Where a GtkDialog keeps its content area. GTK 2 exposes it only as the
// struct member "vbox", and the launcher has no GTK headers, so the
// instance layout of GTK 2.24 is mirrored here from GObject down to
// GtkDialog. The compiler lays it out for the build's ABI (ILP32 for
// setup_linux, LP64 for setup_linux64); the offsets are pinned below and
// checked against the real library by the gui tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/gtk_types.h"

namespace kv {
namespace gtk2abi {

struct GObject {
  void* typeClass;  // GTypeInstance
  unsigned int refCount;
  void* qdata;
};

struct GtkObject {
  GObject parent;  // GInitiallyUnowned
  uint32_t flags;
};

struct GtkWidget {
  GtkObject object;
  uint16_t privateFlags;
  uint8_t state;
  uint8_t savedState;
  char* name;
  void* style;
  int requisition[2];
  int allocation[4];
  void* window;
  void* parent;
};

struct GtkContainer {
  GtkWidget widget;
  void* focusChild;
  unsigned int borderWidth : 16;
  unsigned int needResize : 1;
  unsigned int resizeMode : 2;
  unsigned int reallocateRedraws : 1;
  unsigned int hasFocusChain : 1;
};

struct GtkBin {
  GtkContainer container;
  void* child;
};

struct GtkWindow {
  GtkBin bin;
  char* title;
  char* wmclassName;
  char* wmclassClass;
  char* wmRole;
  void* focusWidget;
  void* defaultWidget;
  void* transientParent;
  void* geometryInfo;
  void* frame;
  void* group;
  uint16_t configureRequestCount;
  unsigned int stateFlags : 16;  // allow_shrink ... destroy_with_parent
  unsigned int moreFlags : 15;   // has_frame ... has_toplevel_focus
  unsigned int frameLeft;
  unsigned int frameTop;
  unsigned int frameRight;
  unsigned int frameBottom;
  unsigned int keysChangedHandler;
  int mnemonicModifier;
  void* screen;
};

struct GtkDialog {
  GtkWindow window;
  kv::GtkWidget* vbox;
  kv::GtkWidget* actionArea;
  kv::GtkWidget* separator;
};

}  // namespace gtk2abi

#if defined(__i386__)
static_assert(offsetof(gtk2abi::GtkDialog, vbox) == 148, "GtkDialog.vbox on ILP32");
#elif defined(__x86_64__)
static_assert(offsetof(gtk2abi::GtkDialog, vbox) == 240, "GtkDialog.vbox on LP64");
#endif

// The content area ("vbox" member) of a widget made by gtk_dialog_new.
inline GtkWidget* dialogContentArea(GtkWidget* dialog) {
  return reinterpret_cast<gtk2abi::GtkDialog*>(dialog)->vbox;
}

}  // namespace kv
