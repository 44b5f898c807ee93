// The location dialog (template 100): a path field with a Browse... button
// that opens the shell's folder browser. OK checks the path with the
// location validator and either accepts it or shows why not in an
// "Invalid input" box, leaving the dialog open. Runs on the main thread with
// its own message loop; one at a time.
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "core/location.h"
#include "core/platform.h"
#include "platform/windows/logo_icon.h"
#include "platform/windows/resource_ids.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

constexpr int kPathBufferSize = MAX_PATH;
const wchar_t kInvalidInputCaption[] = L"Invalid input";
const wchar_t kBrowserTitle[] = L"Select Install Directory";
constexpr UINT kBrowserFlags = BIF_NEWDIALOGSTYLE | BIF_EDITBOX;  // 0x50

struct LocationDialogState {
  std::optional<std::string> initial;
  const char* prompt = "";
  bool requireProducts = false;
  const LocationValidator* validator = nullptr;
  std::optional<std::string> result;
  bool closed = false;
  HICON icon = nullptr;
  HWND dialog = nullptr;
  // The folder browser's last selection and its own dialog procedure.
  std::optional<std::string> browserSelection;
  LONG_PTR previousBrowserProcedure = 0;
};

LocationDialogState* state = nullptr;

std::string controlText(HWND dialog, int id) {
  std::vector<wchar_t> buffer(kPathBufferSize, L'\0');
  GetDlgItemTextW(dialog, id, buffer.data(), kPathBufferSize);  // at most 259 characters
  return narrow(std::wstring(buffer.data()));
}

// True when the validator rejects `path`; its message has then been shown.
// Otherwise `checked` (when given) is the location as checked: made whole.
bool rejectWithMessage(const std::string& path, std::string* checked = nullptr) {
  std::string accepted;
  std::string message;
  if (state->validator->check(path, accepted, state->requireProducts, &message)) {
    if (checked) *checked = accepted;
    return false;
  }
  MessageBoxW(nullptr, widen(message).c_str(), kInvalidInputCaption, MB_ICONERROR | MB_OK);
  return true;
}

std::optional<std::string> pathOfItem(LPCITEMIDLIST item) {
  std::vector<wchar_t> path(MAX_PATH, L'\0');
  if (!item || !SHGetPathFromIDListW(item, path.data())) return std::nullopt;
  return narrow(std::wstring(path.data()));
}

// The browser's dialog procedure in front of its own: an OK whose selection
// the validator rejects shows the message and keeps the browser open.
INT_PTR CALLBACK browserOkInterceptor(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK && HIWORD(wParam) == 0 && state &&
      state->browserSelection && rejectWithMessage(*state->browserSelection)) {
    return 0;
  }
  return CallWindowProcW(reinterpret_cast<WNDPROC>(state->previousBrowserProcedure), window,
                         message, wParam, lParam);
}

int CALLBACK browserCallback(HWND window, UINT message, LPARAM lParam, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    // Opens on the folder typed in the field (a text naming no folder
    // leaves the browser's own default).
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, data);
    state->previousBrowserProcedure =
        SetWindowLongPtrW(window, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(&browserOkInterceptor));
  } else if (message == BFFM_SELCHANGED) {
    // A virtual folder (no file-system path) counts as an empty selection,
    // which the validator rejects.
    state->browserSelection = pathOfItem(reinterpret_cast<LPCITEMIDLIST>(lParam)).value_or("");
  }
  return 0;
}

void browseForFolder(HWND dialog) {
  const std::wstring initialSelection = widen(controlText(dialog, KV_ID_PATH));
  std::vector<wchar_t> displayName(MAX_PATH, L'\0');
  BROWSEINFOW info = {};
  info.hwndOwner = IsWindow(dialog) ? dialog : nullptr;
  info.pidlRoot = nullptr;
  info.pszDisplayName = displayName.data();
  info.lpszTitle = kBrowserTitle;
  info.ulFlags = kBrowserFlags;
  info.lpfn = browserCallback;
  info.lParam = reinterpret_cast<LPARAM>(initialSelection.c_str());
  state->browserSelection.reset();
  LPITEMIDLIST item = SHBrowseForFolderW(&info);
  if (!item) return;  // cancelled: the field keeps its text
  if (std::optional<std::string> path = pathOfItem(item)) {
    SetDlgItemTextW(dialog, KV_ID_PATH, widen(*path).c_str());
  }
  CoTaskMemFree(item);
}

INT_PTR CALLBACK locationDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(state->icon));
      SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(state->icon));
      SetDlgItemTextW(dialog, KV_ID_PATH, widen(state->initial.value_or("")).c_str());
      SetDlgItemTextW(dialog, KV_ID_PROMPT, widen(state->prompt).c_str());
      state->result.reset();
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDCANCEL) {
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
      }
      if (wParam == KV_ID_BROWSE) {
        browseForFolder(dialog);
        return TRUE;
      }
      if (wParam == IDOK) {
        std::string checked;
        if (rejectWithMessage(controlText(dialog, KV_ID_PATH), &checked)) return FALSE;
        state->result = checked;
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      ShowWindow(dialog, SW_HIDE);
      state->closed = true;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

HICON logoIcon() {
  static HICON icon = LoadIconW(GetModuleHandleW(nullptr), KV_ICON_NAME);
  return icon;
}

std::optional<std::string> selectLocation(const std::optional<std::string>& initial,
                                          const char* prompt, bool requireProducts,
                                          const LocationValidator& validator) {
  // The folder browser's new dialog style needs COM on this thread.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  LocationDialogState dialogState;
  dialogState.initial = initial;
  dialogState.prompt = prompt;
  dialogState.requireProducts = requireProducts;
  dialogState.validator = &validator;
  dialogState.icon = logoIcon();
  state = &dialogState;

  HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(KV_DIALOG_LOCATION),
                                   nullptr, locationDialogProcedure, 0);
  if (!dialog) {
    state = nullptr;
    return std::nullopt;
  }
  dialogState.dialog = dialog;
  ShowWindow(dialog, SW_SHOW);

  MSG msg;
  while (!dialogState.closed && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DestroyWindow(dialog);
  state = nullptr;
  return dialogState.result;
}

}  // namespace kv
