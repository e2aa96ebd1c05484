// Control ids and texts of the upgrade dialog (window template 102, icon 128).
// The texts are the program's own and are shown exactly as written here.
#pragma once

namespace pelmo::ui {

// Control ids of template 102.
inline constexpr int IDC_PROGRESS = 1000;
inline constexpr int IDC_VERSION = 1001;
inline constexpr int IDC_MESSAGE = 1002;
inline constexpr int IDC_UPGRADE = 1003;
inline constexpr int IDC_STEP1 = 1004;
inline constexpr int IDC_STEP2 = 1005;
inline constexpr int IDC_STEP3 = 1006;
inline constexpr int IDC_STEP4 = 1007;
inline constexpr int IDC_STEP5 = 1008;
inline constexpr int IDC_AUTOCHECK = 1009;
inline constexpr int IDC_CANCEL = 2;  // IDCANCEL
inline constexpr int IDC_SEPARATOR = -1;

// Template geometry in dialog units and its font.
inline constexpr int DIALOG_WIDTH_DU = 205;
inline constexpr int DIALOG_HEIGHT_DU = 135;
inline constexpr int DIALOG_FONT_POINTS = 9;

// Colours of the step labels (0x00BBGGRR like the platform's colour values).
inline constexpr unsigned STEP_COLOUR_CURRENT = 0x0000FFu;  // red
inline constexpr unsigned STEP_COLOUR_OTHER = 0x000000u;    // black

namespace text {
inline constexpr const char* TITLE = "Pelmo升级程序";
inline constexpr const char* FONT_FACE = "宋体";
inline constexpr const char* UPGRADE = "升级";
inline constexpr const char* CANCEL = "取消";
inline constexpr const char* VERSION_PLACEHOLDER = "version";
inline constexpr const char* MESSAGE_PLACEHOLDER = "MESSAGE";
inline constexpr const char* STEP1 = "1.下载升级配置文件";
inline constexpr const char* STEP2 = "2.检查当前版本";
inline constexpr const char* STEP3 = "3.下载升级包文件";
inline constexpr const char* STEP4 = "4.升级当前版本";
inline constexpr const char* STEP5 = "5.升级完成,重新启动Pelmo";
inline constexpr const char* AUTOCHECK = "每次运行Pelmo时,自动检测新版本";
inline constexpr const char* MESSAGE_BOX_CAPTION = "Pelmo";

inline constexpr const char* PROGRESS_START = "升级Pelmo程序进度...";
inline constexpr const char* VERSION_PREFIX = "当前版本: ";
inline constexpr const char* DOWNLOAD_FORMAT = "3.下载升级包文件 ( %.1fk / 共%.1fk )";

inline constexpr const char* PROGRESS_10 = "升级进度:10%";
inline constexpr const char* PROGRESS_15 = "升级进度:15%";
inline constexpr const char* PROGRESS_20 = "正在下载文件,请等待...,升级进度:20%";
inline constexpr const char* PROGRESS_60 = "升级进度:60%";
inline constexpr const char* PROGRESS_90 = "升级进度:90%";
inline constexpr const char* PROGRESS_100 = "升级进度:100%";
inline constexpr const char* NO_NEW_VERSION_LINE = "没有新版本,请退出";

inline constexpr const char* BOX_CLIENT_RUNNING = "Pelmo程序正在运行中,请先退出Pelmo程序。";
inline constexpr const char* BOX_CONFIG_FAILED = "下载升级配置文件失败,请检查网络连接!";
inline constexpr const char* BOX_NO_NEW_VERSION = "没有新版本,请退出!";
inline constexpr const char* BOX_DOWNLOAD_FAILED = "下载升级包文件失败,请检查网络连接!";
inline constexpr const char* BOX_CONFIG_UNTRUSTED = "升级配置文件签名无效,请联系软件提供商!";
inline constexpr const char* BOX_PACKAGE_UNTRUSTED = "升级包文件校验失败,请联系软件提供商!";
inline constexpr const char* BOX_INSTALL_FAILED = "升级失败,请重试!";
inline constexpr const char* BOX_RESTART_FAILED = "启动Pelmo失败,请重试!";
}  // namespace text

}  // namespace pelmo::ui
