// The notifications the upgrade worker posts to its target, one per step
// outcome. The dialog turns each into a progress position, a red step label, a
// message-line text or a message box.
#pragma once

namespace pelmo {

inline constexpr int WM_UPGRADE_CLIENT_RUNNING = 3066;    // client found running; run ends
inline constexpr int WM_UPGRADE_FETCHING_CONFIG = 3067;   // step 1 (manifest) begins
inline constexpr int WM_UPGRADE_CONFIG_FAILED = 3068;     // step 1 failed; run ends
inline constexpr int WM_UPGRADE_CHECKING_VERSION = 3069;  // step 2 (newer version) begins
inline constexpr int WM_UPGRADE_NO_NEW_VERSION = 3070;    // nothing newer; run ends
inline constexpr int WM_UPGRADE_DOWNLOADING = 3071;       // step 3 (download) begins
inline constexpr int WM_UPGRADE_DOWNLOAD_FAILED = 3072;   // step 3 failed; run ends
inline constexpr int WM_UPGRADE_INSTALLING = 3073;        // step 4 (installation) begins
inline constexpr int WM_UPGRADE_INSTALL_FAILED = 3074;    // step 4 failed; run ends
inline constexpr int WM_UPGRADE_RESTARTING = 3075;        // step 5 (client start) begins
inline constexpr int WM_UPGRADE_RESTART_FAILED = 3076;    // step 5 failed; run ends
inline constexpr int WM_UPGRADE_COMPLETE = 3077;          // step 5 succeeded; run ends

inline constexpr int WM_UPGRADE_FIRST = WM_UPGRADE_CLIENT_RUNNING;
inline constexpr int WM_UPGRADE_LAST = WM_UPGRADE_COMPLETE;

}  // namespace pelmo
