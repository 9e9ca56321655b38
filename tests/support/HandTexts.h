// The texts of every measurement box for two register sets, worked out by hand from the
// register values (not by the console's own decoding), in the order the boxes are filled.
// Set A: register n holds 1000 * (n + 1) + n; set B: 500 more in every register. Every
// register is distinct, so a field fed from the wrong register shows the wrong text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using TextTable = std::vector<std::pair<int, std::string>>;

inline uint16_t SetARegister(int n) {
    return static_cast<uint16_t>(1000 * (n + 1) + n);
}
inline uint16_t SetBRegister(int n) {
    return static_cast<uint16_t>(SetARegister(n) + 500);
}

// Set A, PT = CT = 1, no Urg factor, energy exponent 0.
inline const TextTable kSetATexts = {
    {1001, "10.00 V"},        {1026, "20.01 V"},         {1030, "0.3002 A"},
    {1034, "500.4 W"},        {1046, "0.6005"},          {1038, "700.6 Var"},
    {1042, "1.6014 KVA"},     {1002, "90.08 V"},         {1027, "100.09 V"},
    {1031, "1.1010 A"},       {1035, "1.3012 KW"},       {1047, "1.4013"},
    {1039, "1.5014 KVar"},    {1043, "3.2030 KVA"},      {1003, "170.16 V"},
    {1028, "180.17 V"},       {1032, "1.9018 A"},        {1036, "2.1020 KW"},
    {1048, "2.2021"},         {1040, "2.3022 KVar"},     {1044, "4.8046 KVA"},
    {1050, "2.5024 A"},       {1000, "260.25 V"},        {1029, "2.7026 A"},
    {1049, "29.936 Hz"},      {1033, "2.9028 KW"},       {1045, "3.0029"},
    {1037, "3.1030 KVar"},    {1041, "6.4062 KVA"},      {1053, "2296.0223 MWh"},
    {1054, "-2427.2273 MWh"}, {1055, "2558.4324 MVarh"}, {1056, "-2689.6375 MVarh"},
    {1025, "100.09 V"},
};
// Set A with PT 100, CT 5, the Urg flag set and energy exponent 3.
inline const TextTable kSetAScaledTexts = {
    {1001, "1000.00 V"},
    {1026, "2.00 KV"},
    {1030, "1.5010 A"},
    {1034, "1.0008 MW"},
    {1046, "0.6005"},
    {1038, "1.4012 MVar"},
    {1042, "800.7000 KVA"},
    {1002, "9.01 KV"},
    {1027, "10.01 KV"},
    {1031, "5.5050 A"},
    {1035, "2.6024 MW"},
    {1047, "1.4013"},
    {1039, "3.0028 MVar"},
    {1043, "1.6015 MVA"},
    {1003, "17.02 KV"},
    {1028, "18.02 KV"},
    {1032, "9.5090 A"},
    {1036, "4.2040 MW"},
    {1048, "2.2021"},
    {1040, "4.6044 MVar"},
    {1044, "2.4023 MVA"},
    {1050, "12.5120 A"},
    {1000, "26.02 KV"},
    {1029, "13.5130 A"},
    {1049, "29.936 Hz"},
    {1033, "5.8056 MW"},
    {1045, "3.0029"},
    {1037, "6.2060 MVar"},
    {1041, "3.2031 MVA"},
    {1053, "1148011128.5000 MWh"},
    {1054, "-1213613665.5000 MWh"},
    {1055, "1279216202.5000 MVarh"},
    {1056, "-1344818739.5000 MVarh"},
    {1025, "10.01 KV"},
};
// Set B, PT = CT = 1.
inline const TextTable kSetBTexts = {
    {1001, "15.00 V"},        {1026, "25.01 V"},         {1030, "0.3502 A"},
    {1034, "550.4 W"},        {1046, "0.6505"},          {1038, "750.6 Var"},
    {1042, "1.7014 KVA"},     {1002, "95.08 V"},         {1027, "105.09 V"},
    {1031, "1.1510 A"},       {1035, "1.3512 KW"},       {1047, "1.4513"},
    {1039, "1.5514 KVar"},    {1043, "3.3030 KVA"},      {1003, "175.16 V"},
    {1028, "185.17 V"},       {1032, "1.9518 A"},        {1036, "2.1520 KW"},
    {1048, "2.2521"},         {1040, "2.3522 KVar"},     {1044, "4.9046 KVA"},
    {1050, "2.5524 A"},       {1000, "265.25 V"},        {1029, "2.7526 A"},
    {1049, "30.471 Hz"},      {1033, "2.9528 KW"},       {1045, "3.0529"},
    {1037, "3.1530 KVar"},    {1041, "6.5062 KVA"},      {1053, "2328.7908 MWh"},
    {1054, "-2459.9958 MWh"}, {1055, "2591.2009 MVarh"}, {1056, "-2722.4060 MVarh"},
    {1025, "105.09 V"},
};
