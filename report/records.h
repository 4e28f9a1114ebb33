// coupler-report: the station's records read back. A record is one unit's
// JSON Lines object; a line that is none (a last line a station is still
// writing, an object of another program) is counted and left out, never a
// reason to give up on the file.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct Measured {
    std::string name, unit;
    bool hasValue = false, hasLow = false, hasHigh = false;
    double value = 0, low = 0, high = 0;
};
struct StepRecord {
    std::string name;
    std::vector<Measured> measurements;
};
struct UnitRecord {
    std::string planName, planVersion, planSha256;
    std::string serial, operatorName, station;  // empty where the record holds null
    std::string time;                           // as written, with its offset
    int64_t instant = 0;                        // seconds since 1970 (UTC), for the order
    std::string verdict, detail, firstFailed;
    std::vector<StepRecord> steps;
    int64_t sequence = 0;  // the order read, for records of one instant
};

// One line as a record; false where it is none (not JSON, not an object, a
// key missing or of the wrong kind).
bool RecordParse(const std::string& line, UnitRecord* record);
// "2026-12-08T09:15:02+01:00" as seconds since 1970 in UTC; false if not such.
bool RecordInstant(const std::string& time, int64_t* seconds);

struct RecordSet {
    std::vector<UnitRecord> records;
    int64_t skipped = 0;  // lines that are no record
    int64_t files = 0;
};
// The lines of text (a file's content) added to set.
void RecordsFromText(const std::string& text, RecordSet* set);
// Each argument a file, or a folder whose *.jsonl files are read (not those
// of folders in it). False with the reason in German words when one cannot be read.
bool RecordsRead(const std::vector<std::string>& paths, RecordSet* set, std::string* why);
