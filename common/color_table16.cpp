#include "common/color_table16.h"

void BuildColorTable555(uint16_t table[256], const uint8_t palette[768]) {
    for (int i = 0; i < 256; ++i) table[i] = Pack555(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
}

void BuildColorTable565(uint16_t table[256], const uint8_t palette[768]) {
    for (int i = 0; i < 256; ++i) table[i] = Pack565(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
}
