#include "res/Resource.h"
#include "winsys/Types.h"

namespace {

DialogTemplate Build() {
    // Every radio starts a group of its own: only the click handlers make them exclusive.
    const unsigned radio = kGroup;
    return DialogTemplate{
        IDD_COMMSET,
        "通讯设置",
        "宋体",
        10,
        187,
        111,
        0,
        {
            {IDOK, CtlKind::DefPushButton, "确    定", {138, 55, 42, 14}, kTabStop},
            {IDCANCEL, CtlKind::PushButton, "退    出", {137, 82, 43, 14}, kTabStop},
            {1009, CtlKind::Radio, "1200bps", {17, 14, 48, 15}, radio},
            {1010, CtlKind::Radio, "2400bps", {17, 31, 48, 15}, radio},
            {1011, CtlKind::Radio, "4800bps", {17, 46, 48, 15}, radio},
            {1012, CtlKind::Radio, "9600bps", {17, 64, 48, 15}, radio},
            {1013, CtlKind::Radio, "19200bps", {17, 81, 48, 15}, radio},
            {1014, CtlKind::Radio, "无校验", {77, 49, 42, 15}, radio},
            {1015, CtlKind::Radio, "奇校验", {77, 64, 42, 15}, radio},
            {1016, CtlKind::Radio, "偶校验", {77, 78, 42, 15}, radio},
            {IDC_STATIC, CtlKind::GroupBox, "波特率", {13, 7, 54, 90}, 0},
            {IDC_STATIC, CtlKind::GroupBox, "校验位", {71, 41, 56, 55}, 0},
            {IDC_COM_PORT, CtlKind::Edit, "", {95, 17, 28, 14}, kTabStop | kAutoHScroll},
            {IDC_STATIC, CtlKind::Static, "COM：", {74, 21, 20, 8}, 0},
            {IDC_STATIC, CtlKind::GroupBox, "串口选择", {71, 7, 56, 29}, 0},
        }};
}

}  // namespace

const DialogTemplate& CommSetTemplate() {
    static const DialogTemplate tpl = Build();
    return tpl;
}
