#include "measure/LimitStatus.h"

namespace {

void DecodeByte(uint8_t byte, const char* under, const char* over, LimitStatus& out, int first) {
    for (int field = 0; field < 4; ++field) {
        const Limit limit = LimitField(byte, field);
        const int k = first + field;
        out.flags[k] = limit != Limit::Normal;
        out.texts[k] = limit == Limit::Under ? under : limit == Limit::Over ? over : "正常";
    }
}

}  // namespace

LimitStatus DecodeLimitStatus(uint8_t voltageByte, uint8_t currentByte) {
    LimitStatus s;
    DecodeByte(voltageByte, "欠压", "过压", s, 0);
    DecodeByte(currentByte, "欠流", "过流", s, 4);
    return s;
}
