#include "base/Parse.h"
#include "diagnose/Picture.h"

bool ParseDiagnoseSettings(const std::string& nominal, const std::string& frequency,
                           DiagnoseSettings& out, std::string& error) {
    std::string why;
    if (!nominal.empty()) {
        out.nominalVoltage = ParseDecimal(nominal, 1, 1000000, why);
        if (!out.nominalVoltage) return error = "--nominal-voltage: " + why, false;
    }
    if (!frequency.empty()) {
        if (frequency != "50" && frequency != "60")
            return error = "--frequency: \"" + frequency + "\" is not 50 or 60", false;
        out.frequency = frequency == "50" ? 50 : 60;
    }
    return true;
}
