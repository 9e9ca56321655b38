#include "res/Resource.h"
#include "winsys/Types.h"

namespace {

DialogTemplate BuildMeterSet() {
    const unsigned edit = kTabStop | kAutoHScroll;
    return DialogTemplate{IDD_METERSET,
                          "Dialog",
                          "System",
                          10,
                          184,
                          98,
                          kSysMenu,
                          {
                              {IDOK, CtlKind::DefPushButton, "设置", {140, 30, 30, 14}, kTabStop},
                              {IDCANCEL, CtlKind::PushButton, "退出", {140, 65, 30, 14}, kTabStop},
                              {IDC_STATIC, CtlKind::Static, "ＰＴ", {10, 8, 20, 10}, 0},
                              {IDC_PT, CtlKind::Edit, "", {45, 5, 80, 12}, edit},
                              {IDC_STATIC, CtlKind::Static, "ＣＴ", {10, 22, 20, 10}, 0},
                              {IDC_CT, CtlKind::Edit, "", {45, 20, 80, 12}, edit},
                              {1009, CtlKind::Radio, "3相4线(非平衡)", {5, 44, 65, 10}, 0},
                              {1010, CtlKind::Radio, "单相2线", {5, 62, 65, 10}, 0},
                              {1011, CtlKind::Radio, "3相3线(非平衡)", {5, 80, 65, 10}, 0},
                              {1012, CtlKind::Radio, "3相3线(平衡)", {76, 45, 55, 10}, 0},
                              {1013, CtlKind::Radio, "单相3线", {76, 63, 55, 10}, 0},
                              {1014, CtlKind::Radio, "3相4线(平衡)", {76, 81, 55, 10}, 0},
                          }};
}

DialogTemplate BuildAddr() {
    return DialogTemplate{
        IDD_ADDR,
        "更改子机地址",
        "System",
        10,
        180,
        85,
        kSysMenu,
        {
            {IDOK, CtlKind::DefPushButton, "OK", {27, 57, 50, 14}, kTabStop},
            {IDCANCEL, CtlKind::PushButton, "Cancel", {107, 57, 50, 14}, kTabStop},
            {IDC_STATIC, CtlKind::Static, "更改子机地址：", {16, 13, 59, 11}, 0},
            {IDC_NEW_ADDR, CtlKind::Edit, "", {73, 29, 43, 14}, kTabStop | kAutoHScroll},
        }};
}

}  // namespace

const DialogTemplate& MeterSetTemplate() {
    static const DialogTemplate tpl = BuildMeterSet();
    return tpl;
}

const DialogTemplate& AddrTemplate() {
    static const DialogTemplate tpl = BuildAddr();
    return tpl;
}
