// The GTK location dialog "Extract Installer" and its folder chooser
// "Select Install Folder". selectLocation() (core/platform.h) runs the
// dialog on the calling (main) thread inside gtk_main and returns once the
// dialog is gone: with the accepted, normalised location, or none when the
// user cancelled or closed it. An entry the validator rejects is reported
// in a warning box and the dialog stays open.
#pragma once

#include <optional>
#include <string>

#include "platform/linux/gtk_types.h"

namespace kv {

class LocationValidator;

// Shared by selectLocation() and its handlers for one dialog.
struct LocationDialogState {
  std::optional<std::string> result;  // set when a location is accepted
  GtkWidget* entry = nullptr;         // emptied when the dialog is destroyed
  bool requireProducts = false;
  const LocationValidator* validator = nullptr;
};

// "response" of the location dialog: OK (-3) validates the entry and, when
// it passes, keeps the location and destroys the dialog; any other
// response destroys the dialog without a result.
void locationResponse(GtkWidget* dialog, gint response, gpointer state);

// "clicked" of "Browse...": runs the folder chooser, whose accepted folder
// (free of forbidden characters and able to run the installer) is put into
// the entry given as user data.
void browseForFolder(GtkWidget* button, gpointer entry);

}  // namespace kv
