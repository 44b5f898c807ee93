// Identifiers shared by the resource script and the dialog code.
#pragma once

#define KV_DIALOG_LOCATION 100
#define KV_DIALOG_PROGRESS 101

#define KV_ID_PROMPT 1000
#define KV_ID_PATH 1001
#define KV_ID_BROWSE 1002
#define KV_ID_PROGRESS_TEXT 1003
#define KV_ID_PROGRESS_BAR 1004

// The icon group of the dialogs and of the executable's file icon.
#define KV_ICON_NAME L"logo"
