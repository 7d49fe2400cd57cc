#pragma once

namespace orvalink::res {

// The program's resource and command ids. Windows, menus, bars and images are built in code, but
// their ids stay the numbers the rest of the program (and the settings it writes) is built around:
// a command id is what a menu item carries and what a handler switches on, a bitmap id is what
// resourceBitmap() draws.


// Icons.
inline constexpr int kIconMain = 128;      // program window, tray icon, settings sheets
inline constexpr int kIconChatWrite = 206; // chat write window and mail compose window

// Bitmaps.
inline constexpr int kBitmapSplash = 139;        // splash window, 259 x 191
inline constexpr int kBitmapTreeFirst = 143;     // folder tree image i is bitmap 143 + i, 22 x 17 each
inline constexpr int kBitmapTreeLast = 152;
inline constexpr int kBitmapTreeCount = kBitmapTreeLast - kBitmapTreeFirst + 1;
inline constexpr int kBitmapBottomBarBack = 187; // bottom bar: background tile
inline constexpr int kBitmapBottomBarLeft = 188; // bottom bar: left end
inline constexpr int kBitmapBottomBarRight = 189; // bottom bar: right end
inline constexpr int kBitmapBottomBarGrip = 190; // bottom bar: grip that shows the bar drags the window
inline constexpr int kBitmapReportImages = 231;  // right pane image list strip, 16 x 16 each
inline constexpr int kBitmapMailToolbar = 133;   // mail toolbar buttons, 16 x 15 each, in button order

// Images inside the tree strip (bitmap 143 + index).
inline constexpr int kTreeImageMailbox = 0;
inline constexpr int kTreeImagePersonBackslash = 1; // a member whose name contains "\"
inline constexpr int kTreeImageReceived = 2;
inline constexpr int kTreeImageToSend = 3;
inline constexpr int kTreeImageSent = 4;
inline constexpr int kTreeImageSaved = 5;
inline constexpr int kTreeImageDeleted = 6;
inline constexpr int kTreeImageFolder = 7;
inline constexpr int kTreeImageGroup = 8;
inline constexpr int kTreeImagePerson = 9;

// Images inside the right pane's strip (bitmap 231).
inline constexpr int kReportImageUnread = 0;
inline constexpr int kReportImagePersonal = 1;
inline constexpr int kReportImageReply = 2;
inline constexpr int kReportImageGroup = 3;
inline constexpr int kReportImageRead = 4;
inline constexpr int kReportImageCount = 5;
inline constexpr int kReportImageWidth = 16;

// Images inside the mail toolbar's strip (bitmap 133), one per button.
inline constexpr int kMailToolbarImageReceive = 0;
inline constexpr int kMailToolbarImageSettings = 1;
inline constexpr int kMailToolbarImageNew = 2;
inline constexpr int kMailToolbarImageSend = 3;
inline constexpr int kMailToolbarImageAddressBook = 4;
inline constexpr int kMailToolbarImageSendReceive = 5;
inline constexpr int kMailToolbarImageCount = 6;
inline constexpr int kMailToolbarImageWidth = 16;

// Cursors.
inline constexpr int kCursorRemoveColumn = 106; // a heading dragged off the right pane's header

// Menus.
inline constexpr int kMenuMain = 128;        // main window menu; also the document template id
inline constexpr int kMenuComposeWindow = 174; // mail compose window (menu and toolbar)
inline constexpr int kMenuTreeMember = 214;  // folder tree pop-up on a member node
inline constexpr int kMenuTreeGroup = 233;   // folder tree pop-up on a group node
inline constexpr int kMenuChatWrite = 234;   // chat write window
inline constexpr int kMenuTray = 238;        // tray icon pop-up; also the tray icon's id
inline constexpr unsigned kTrayIconId = kMenuTray; // the id the tray icon's messages carry

// Toolbars.
inline constexpr int kToolbarMail = 133; // the main window's mail commands
inline constexpr int kToolbarCompose = 174;

// Strings.
inline constexpr int kStringSocketInitFailed = 104;

// Dialogs and dialog bars.
inline constexpr int kDialogAbout = 100;
inline constexpr int kDialogBottomBar = 103;
inline constexpr int kDialogMailReceive = 130;
inline constexpr int kDialogServerSettings = 136;
inline constexpr int kDialogSplash = 170;
inline constexpr int kDialogComposeHeader = 175;
inline constexpr int kDialogSendReceive = 193;
inline constexpr int kDialogCipherPage = 198;
inline constexpr int kDialogSortingPage = 199;
inline constexpr int kDialogPortSettings = 213;
inline constexpr int kDialogListener = 215;
inline constexpr int kDialogNewPort = 216;
inline constexpr int kDialogSideBar = 232;
inline constexpr int kDialogChatWriteBar = 233;

// Controls shared between windows.
inline constexpr int kControlAboutInfo = 1041;       // About box: processor and memory line
inline constexpr int kControlColumnChooser = 1049;   // list box of the side bar
inline constexpr int kControlChatWriteSend = 1050;   // chat write window: "送信(&S)" / "返信(&D)"

// Commands: the one table of command ids. The automation channel's "command N" and "click N" and
// the tests address commands by these numbers, so they never change.
inline constexpr int kCmdMailReceive = 32771;
inline constexpr int kCmdMailSettings = 32773;
inline constexpr int kCmdMailNew = 32776;
inline constexpr int kCmdMailSend = 32778;
inline constexpr int kCmdAddressBook = 32780;
inline constexpr int kCmdComposeSend = 32782;
inline constexpr int kCmdComposeSave = 32783;
inline constexpr int kCmdComposeButton3 = 32784;
inline constexpr int kCmdComposeButton4 = 32785;
inline constexpr int kCmdComposeQuit = 32786;
inline constexpr int kCmdMailSendReceive = 32792;
inline constexpr int kCmdPortAndLog = 32810;
inline constexpr int kCmdWriteToGroup = 32816;
inline constexpr int kCmdWriteToPerson = 32820;
inline constexpr int kCmdChatWriteClose = 32821;
inline constexpr int kCmdTrayExit = 32822;
inline constexpr int kCmdTrayShow = 32823;
inline constexpr int kCmdDesktopOptions = 32830;
inline constexpr int kCmdFileSave = 57603;
inline constexpr int kCmdEditCut = 57635;
inline constexpr int kCmdEditCopy = 57634;
inline constexpr int kCmdEditPaste = 57637;
inline constexpr int kCmdEditUndo = 57643;
inline constexpr int kCmdAbout = 57664;
inline constexpr int kCmdAppExit = 57665;

} // namespace orvalink::res
