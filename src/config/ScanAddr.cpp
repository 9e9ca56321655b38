// The address scan: one probe of one candidate address per tick of timer 2.
#include "app/MeterDlg.h"

void CMeterDlg::ScanStep(int32_t) {}
