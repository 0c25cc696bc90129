#ifndef TAV_ENGINE_CORE_ELEMENTARY_TABLES_H_
#define TAV_ENGINE_CORE_ELEMENTARY_TABLES_H_

// The tables of core/elementary.cpp. Every entry is defined by the exact values it rounds, so
// that any multiple-precision calculator reproduces it; tests/core/elementary_test.cpp checks
// them against LongReal.

namespace tav::elementary_tables {

// 2^(j/256), j = 0 to 255, as hi + lo: hi the nearest double, lo the nearest double to the rest.
struct ExpEntry {
  double hi;
  double lo;
};
extern const ExpEntry kExp[256];

// The logarithm's reduction. The doubles with exponent field 1022 or 1023 from 0x1.6ap-1 (just
// below 1/sqrt(2)) to 0x1.6ap+0 form 512 intervals of the same leading bits, 300 of width 2^-10
// below 1 and 212 of width 2^-9 from 1 up; interval i holds the bit patterns from
// 0x3fe6a00000000000 + i * 2^43. Its entry holds c, 1/(the interval's centre) rounded to 10
// significant bits (exactly 1 for the intervals on either side of 1, i = 299 and 300), so that
// m c - 1 is a double for every m of the interval, and -ln c as head + middle + tail (kLogTail):
// head a multiple of 2^-42, middle and tail the nearest doubles to what remains.
struct LogEntry {
  double c;
  double head;
  double middle;
};
extern const LogEntry kLog[512];
extern const double kLogTail[512];

}  // namespace tav::elementary_tables

#endif  // TAV_ENGINE_CORE_ELEMENTARY_TABLES_H_
