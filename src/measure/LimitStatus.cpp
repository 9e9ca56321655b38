#include "measure/LimitStatus.h"

namespace {

void DecodeByte(uint8_t byte, const char* under, const char* over, LimitStatus& out, int first) {
    for (int field = 0; field < 4; ++field) {
        int value = (byte >> (6 - 2 * field)) & 0x03;
        int k = first + field;
        out.flags[k] = (value == 1 || value == 2) ? 1 : 0;
        out.texts[k] = value == 1 ? under : value == 2 ? over : "正常";
    }
}

}  // namespace

LimitStatus DecodeLimitStatus(uint8_t voltageByte, uint8_t currentByte) {
    LimitStatus s;
    DecodeByte(voltageByte, "欠压", "过压", s, 0);
    DecodeByte(currentByte, "欠流", "过流", s, 4);
    return s;
}
