// Dialog template and control IDs.
#pragma once

#include "winsys/DialogTemplate.h"

constexpr int IDD_METER_DIALOG = 102;
constexpr int IDD_COMMSET = 130;

// Main window.
constexpr int IDC_SLAVE_ADDR = 1061;
constexpr int IDC_MSCOMM = 1008;
constexpr int IDC_PORT_STATUS = 1057;
constexpr int IDC_SCAN_ADDR = 1062;
constexpr int IDC_RUN_STOP = 1063;
constexpr int IDC_CHANGE_ADDR = 1007;
constexpr int IDC_CLASS = 1009;
constexpr int IDC_COMM_SET = 1004;
constexpr int IDC_METER_SET = 1006;
constexpr int IDC_REFRESH_URG = 1091;
constexpr int IDC_FACTORY_INIT = 1092;
constexpr int IDC_TX_ECHO = 1021;
constexpr int IDC_RX_ECHO = 1022;
constexpr int IDC_ADDR_WIRING = 1064;
constexpr int IDC_ZERO_SEQ_CURRENT = 1050;
constexpr int IDC_FREQUENCY = 1049;
constexpr int IDC_AUX_FIRST = 1066;  // 1066..1069: setting block A, no control
// First IDs of the grid rows; a cell is the row's ID plus its column 0..3.
constexpr int IDC_PHASE_VOLTAGE = 1000;
constexpr int IDC_LINE_VOLTAGE = 1025;
constexpr int IDC_CURRENT = 1029;
constexpr int IDC_ACTIVE_POWER = 1033;
constexpr int IDC_REACTIVE_POWER = 1037;
constexpr int IDC_APPARENT_POWER = 1041;
constexpr int IDC_POWER_FACTOR = 1045;
constexpr int IDC_ENERGY_FWD_ACTIVE = 1053;
constexpr int IDC_ENERGY_REV_ACTIVE = 1054;
constexpr int IDC_ENERGY_FWD_REACTIVE = 1055;
constexpr int IDC_ENERGY_REV_REACTIVE = 1056;

// Port selection dialog.
constexpr int IDC_COM_PORT = 1000;
constexpr int IDC_BAUD_1200 = 1009;
constexpr int IDC_BAUD_19200 = 1013;
constexpr int IDC_PARITY_NONE = 1014;
constexpr int IDC_PARITY_EVEN = 1016;

const DialogTemplate& MeterDialogTemplate();
const DialogTemplate& CommSetTemplate();

constexpr int IDD_METERSET = 131;
constexpr int IDD_ADDR = 146;
// Meter settings dialog: PT, CT and the six wiring radios 1009..1014.
constexpr int IDC_PT = 1000;
constexpr int IDC_CT = 1001;
constexpr int IDC_WIRING_FIRST = 1009;
constexpr int IDC_WIRING_LAST = 1014;
// Address dialog.
constexpr int IDC_NEW_ADDR = 1000;
// Commands of the main window that have no visible control.
constexpr int IDC_WRITE_AUX = 1070;
constexpr int IDC_READ_AUX = 1071;

const DialogTemplate& MeterSetTemplate();
const DialogTemplate& AddrTemplate();
