// The string table of Kelvad's windows.
#pragma once

// String 101: the About item of the main dialog's menu.
inline constexpr const char* IDS_ABOUTBOX = "&About Kelvad...";
