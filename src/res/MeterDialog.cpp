#include "res/Resource.h"
#include "winsys/Types.h"

namespace {

constexpr unsigned kGridEdit = kReadOnly | kBorderless | kAutoHScroll;
constexpr unsigned kButton = kTabStop;

void AddGrid(std::vector<ControlTemplate>& c) {
    struct Row {
        const char* label;
        int y, firstId, cells;
    };
    const Row rows[] = {
        {"相 电 压", 58, IDC_PHASE_VOLTAGE, 4},   {"线 电 压", 74, IDC_LINE_VOLTAGE, 4},
        {"相 电 流", 90, IDC_CURRENT, 4},         {"有功功率", 106, IDC_ACTIVE_POWER, 4},
        {"无功功率", 122, IDC_REACTIVE_POWER, 4}, {"视在功率", 138, IDC_APPARENT_POWER, 4},
        {"功率因数", 154, IDC_POWER_FACTOR, 4},   {"频    率", 170, IDC_FREQUENCY, 1},
    };
    const int columnX[] = {52, 110, 168, 226};
    c.push_back({IDC_STATIC, CtlKind::GroupBox, "基本数据", {7, 25, 292, 161}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "  合相", {56, 46, 30, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "A相/CA线", {109, 46, 40, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "B相/AB线", {174, 46, 40, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "C相/BC线", {229, 46, 40, 8}, 0});
    for (const Row& r : rows) {
        int labelX = r.firstId == IDC_FREQUENCY ? 14 : 13;
        c.push_back({IDC_STATIC, CtlKind::Static, r.label, {labelX, r.y + 2, 36, 8}, 0});
        for (int col = 0; col < r.cells; ++col)
            c.push_back(
                {r.firstId + col, CtlKind::Edit, "", {columnX[col], r.y, 53, 12}, kGridEdit});
    }
    c.push_back({IDC_STATIC, CtlKind::Static, "零序电流", {113, 172, 35, 10}, kHidden});
    c.push_back({IDC_ZERO_SEQ_CURRENT, CtlKind::Edit, "", {168, 170, 53, 12}, kGridEdit | kHidden});
}

void AddEnergy(std::vector<ControlTemplate>& c) {
    c.push_back({IDC_STATIC, CtlKind::GroupBox, "电能数据", {7, 185, 292, 40}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "正向有功电能", {21, 197, 50, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "负向有功电能", {91, 197, 50, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "正向无功电能", {162, 197, 50, 8}, 0});
    c.push_back({IDC_STATIC, CtlKind::Static, "负向无功电能", {230, 197, 50, 8}, 0});
    c.push_back({IDC_ENERGY_FWD_ACTIVE, CtlKind::Edit, "", {13, 208, 65, 12}, kGridEdit});
    c.push_back({IDC_ENERGY_REV_ACTIVE, CtlKind::Edit, "", {83, 208, 66, 12}, kGridEdit});
    c.push_back({IDC_ENERGY_FWD_REACTIVE, CtlKind::Edit, "", {153, 208, 65, 12}, kGridEdit});
    c.push_back({IDC_ENERGY_REV_REACTIVE, CtlKind::Edit, "", {223, 208, 62, 12}, kGridEdit});
}

void AddSideAndEchoes(std::vector<ControlTemplate>& c) {
    const unsigned echo = kMultiLine | kReadOnly | kVScroll | kTabStop;
    c.push_back({IDC_STATIC, CtlKind::Static, "子机地址", {15, 11, 31, 8}, 0});
    c.push_back({IDC_SLAVE_ADDR, CtlKind::Edit, "", {56, 9, 37, 14}, kTabStop | kAutoHScroll});
    c.push_back({IDC_MSCOMM, CtlKind::SerialControl, "", {7, 32, 22, 23}, 0});
    c.push_back({IDC_PORT_STATUS,
                 CtlKind::Edit,
                 "",
                 {313, 30, 56, 46},
                 kMultiLine | kReadOnly | kBorderless});
    c.push_back({IDC_SCAN_ADDR, CtlKind::PushButton, "轮询地址", {313, 85, 55, 15}, kButton});
    c.push_back({IDC_RUN_STOP, CtlKind::PushButton, "运行", {313, 116, 55, 15}, kButton});
    c.push_back(
        {IDC_CHANGE_ADDR, CtlKind::PushButton, "更改子机地址", {313, 147, 55, 15}, kButton});
    c.push_back(
        {IDC_CLASS, CtlKind::PushButton, "修改精度", {313, 163, 55, 15}, kButton | kHidden});
    c.push_back({IDC_COMM_SET, CtlKind::PushButton, "通讯设置", {313, 182, 55, 15}, kButton});
    c.push_back({IDC_METER_SET, CtlKind::PushButton, "仪表设置", {313, 214, 55, 15}, kButton});
    c.push_back(
        {IDC_REFRESH_URG, CtlKind::PushButton, "刷新Urg值", {313, 241, 55, 15}, kButton | kHidden});
    c.push_back({IDCANCEL, CtlKind::PushButton, "退  出", {313, 246, 55, 15}, kButton});
    c.push_back({IDC_FACTORY_INIT,
                 CtlKind::PushButton,
                 "出厂初始化",
                 {314, 264, 55, 15},
                 kButton | kHidden});
    c.push_back({IDC_STATIC, CtlKind::Static, "发送帧:", {45, 232, 27, 8}, 0});
    c.push_back({IDC_TX_ECHO, CtlKind::Edit, "", {14, 242, 137, 63}, echo | kAutoHScroll});
    c.push_back({IDC_STATIC, CtlKind::Static, "接收帧:", {213, 231, 31, 9}, 0});
    c.push_back({IDC_RX_ECHO, CtlKind::Edit, "", {160, 242, 140, 65}, echo | kWrap});
    c.push_back({IDC_ADDR_WIRING, CtlKind::Edit, "", {99, 228, 66, 9}, kHidden | kAutoHScroll});
}

DialogTemplate Build() {
    DialogTemplate t{IDD_METER_DIALOG,
                     "KX880智能电力检测仪--Harmont",
                     "宋体",
                     9,
                     383,
                     319,
                     kSysMenu | kMinimizeBox,
                     {}};
    AddSideAndEchoes(t.controls);
    AddGrid(t.controls);
    AddEnergy(t.controls);
    return t;
}

}  // namespace

const DialogTemplate& MeterDialogTemplate() {
    static const DialogTemplate tpl = Build();
    return tpl;
}
