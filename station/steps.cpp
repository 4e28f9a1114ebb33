// The steps on the bus: the scan, and each kind of the plan's steps, on the
// unit's master with the same library calls as coupler-i2c's commands.
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "console/check_bus.h"
#include "console/output.h"
#include "i2c/chips.h"
#include "i2c/eeprom.h"
#include "i2c/messages.h"
#include "station/station.h"

namespace {

// The measurement with limits; judged by MeasuredOutside.
Measured Limited(const char* name, const char* unit, bool measured, double value, double low, double high,
                 int decimals)
{
    Measured m;
    m.name = name, m.unit = unit, m.measured = measured, m.value = value;
    m.limited = true, m.low = low, m.high = high, m.decimals = decimals;
    return m;
}

// Whether the status ends the step; if so, the step's outcome and words. A
// line call that failed is a stop (aborted) or a lost port; an adapter too
// slow or unsteady makes no verdict on the unit (disturbed).
bool Ended(Bench* bench, I2cStatus status, int address, StepDone* done)
{
    if (status == I2C_OK)
        return false;
    done->outcome = OUTCOME_FAILED;
    if (status == I2C_LINE_FAILED || LinesFailed(bench->lines)) {
        done->outcome = OUTCOME_ABORTED;
        done->detail = LinesStopped(bench->lines) ? "abgebrochen" : "Schnittstelle verloren";
    } else if (status == I2C_NACK || status == I2C_NACK_DATA) {
        done->detail = StepText(status == I2C_NACK ? "Baustein 0x%02x antwortet nicht"
                                                   : "Baustein 0x%02x nimmt ein Byte nicht an", address);
    } else {
        StepResult words = {"", "", STEP_OK, "", ""};
        BusStatusWords(status, bench->lines, &words);
        done->detail = std::string(words.name) + ": " + words.read;
        if (status == I2C_ADAPTER_TOO_SLOW || status == I2C_ADAPTER_UNSTEADY)
            done->outcome = OUTCOME_DISTURBED;
    }
    return true;
}

// The master, begun at the unit's first step on the bus (the echo measured once).
bool Begun(Bench* bench, StepDone* done)
{
    if (!bench->begun) {
        bench->begun = true;
        bench->begin = BitsBegin(&bench->master, bench->lines);
        if (bench->begin == I2C_OK && bench->master.freed)
            Say(SAY_NOTE, "SDA lag auf Masse: Bus mit Takten und STOP freigemacht");
    }
    return !Ended(bench, bench->begin, 0, done);
}

// Writes the register (none: reg < 0) or the value alone; word: two bytes, high first.
I2cStatus Put(Bench* bench, int address, int reg, bool word, int value)
{
    uint8_t out[3];
    int count = 0;
    if (reg >= 0)
        out[count++] = static_cast<uint8_t>(reg);
    if (word)
        out[count++] = static_cast<uint8_t>(value >> 8);
    out[count++] = static_cast<uint8_t>(value);
    return I2cTransfer(&bench->master, address, out, count, nullptr, 0);
}

I2cStatus Get(Bench* bench, int address, int reg, bool word, int* value)
{
    uint8_t out = static_cast<uint8_t>(reg), in[2] = {};
    I2cStatus status = I2cTransfer(&bench->master, address, &out, reg >= 0 ? 1 : 0, in, word ? 2 : 1);
    *value = word ? in[0] << 8 | in[1] : in[0];
    return status;
}

// The image written where the chip differs from it, then the pages written
// read back: the bytes that still differ and the bytes written.
void Eeprom(Bench* bench, const PlanStep& step, StepDone* done)
{
    const EepromType& type = *step.type;
    std::vector<uint8_t> chip(static_cast<size_t>(type.size));
    Measured differing = Limited("abweichende Bytes", "", false, 0, 0, 0, 0);
    Measured written;
    written.name = "geschriebene Bytes";
    I2cStatus status = EepromReadRange(&bench->master, type, step.address, 0, chip.data(), type.size);
    std::vector<uint8_t> old = chip;
    int pages = 0, touched = 0;
    std::vector<EepromRange> ranges;
    if (status == I2C_OK)
        ranges = EepromRangesDiffering(type, step.first, step.end - step.first, type.page, step.image.data(),
                                       old.data(), &pages);
    written.measured = status == I2C_OK;
    for (size_t i = 0; i < ranges.size() && status == I2C_OK; i++) {
        int count = 0;
        status = EepromWriteRange(&bench->master, type, step.address, ranges[i].offset,
                                  step.image.data() + ranges[i].offset, ranges[i].count, type.page, &count);
        written.value += count;
    }
    // Every page a write touched, whole: a page write wraps within its page.
    for (size_t i = 0; i < ranges.size() && status == I2C_OK; i++) {
        int from = ranges[i].offset / type.page * type.page;
        int to = (ranges[i].offset + ranges[i].count + type.page - 1) / type.page * type.page;
        status = EepromReadRange(&bench->master, type, step.address, from, chip.data() + from, to - from);
        touched += (to - from) / type.page;
    }
    int first = -1;
    bool changed = false;
    if (status == I2C_OK) {
        differing.measured = true;
        for (int i = step.first; i < step.end; i++) {
            first = first < 0 && chip[i] != step.image[i] ? i : first;
            differing.value += chip[i] != step.image[i];
            changed = changed || chip[i] != old[i];
        }
    }
    done->measurements = {differing, written};
    if (Ended(bench, status, step.address, done))
        return;
    done->outcome = differing.value ? OUTCOME_FAILED : OUTCOME_OK;
    if (differing.value && !changed)
        done->detail = StepText("%.0f Bytes weichen ab, das erste bei 0x%02x: Schreibschutz? Daten angenommen, "
                                "Inhalt unverändert", differing.value, first);
    else if (differing.value)
        done->detail = StepText("%.0f Bytes weichen nach dem Schreiben ab, das erste bei 0x%02x", differing.value, first);
    else
        done->detail = StepText("%.0f von %d Bytes geschrieben, %d von %d Seiten stimmten schon", written.value,
                                step.end - step.first, pages - touched, pages);
}

void RegisterWrite(Bench* bench, const PlanStep& step, StepDone* done)
{
    int read = 0, want = step.value & step.mask;
    I2cStatus status = Put(bench, step.address, step.reg, step.word, step.value);
    if (status == I2C_OK)
        status = Get(bench, step.address, step.reg, step.word, &read);
    done->measurements = {Limited("Rücklesewert", "", status == I2C_OK, read & step.mask, want, want, 0)};
    if (Ended(bench, status, step.address, done))
        return;
    done->outcome = (read & step.mask) == want ? OUTCOME_OK : OUTCOME_FAILED;
    if (done->outcome == OUTCOME_FAILED)
        done->detail = StepText("0x%0*x gelesen, 0x%0*x erwartet (Maske 0x%0*x)", step.word ? 4 : 2, read,
                                step.word ? 4 : 2, want, step.word ? 4 : 2, step.mask);
}

// register-read and temperature: one measurement against the plan's limits.
void Reading(Bench* bench, const PlanStep& step, StepDone* done)
{
    int raw = 0;
    bool temperature = step.kind == KIND_TEMPERATURE;
    I2cStatus status = Get(bench, step.address, temperature ? 0 : step.reg, temperature || step.word, &raw);
    // The LM75 class: the high byte whole degrees, the top bit of the low byte a half degree, two's complement.
    double value = temperature ? floor(static_cast<int16_t>(raw) / 128.0) * 0.5 : raw;
    const PlanMeasurement& m = step.measurement;
    done->measurements = {Limited(m.name.c_str(), m.unit.c_str(), status == I2C_OK, value, m.low, m.high,
                                  temperature ? 1 : 0)};
    if (Ended(bench, status, step.address, done))
        return;
    done->outcome = MeasuredOutside(done->measurements[0]) ? OUTCOME_FAILED : OUTCOME_OK;
    if (done->outcome == OUTCOME_FAILED)
        done->detail = MeasuredWords(done->measurements[0]);
}

void Expander(Bench* bench, const PlanStep& step, StepDone* done)
{
    int pins = 0;
    I2cStatus status = Put(bench, step.address, -1, false, step.pattern);
    if (status == I2C_OK)
        status = Get(bench, step.address, -1, false, &pins);
    done->measurements = {Limited("Pins", "", status == I2C_OK, pins, step.pattern, step.pattern, 0)};
    if (Ended(bench, status, step.address, done))
        return;
    done->outcome = pins == step.pattern ? OUTCOME_OK : OUTCOME_FAILED;
    if (done->outcome == OUTCOME_FAILED)
        done->detail = StepText("Pins 0x%02x gelesen, 0x%02x geschrieben", pins, step.pattern);
}

// By hand: the person presses the INT button; CTS shows INT pulled.
void Int(Bench* bench, const PlanStep& step, StepDone* done)
{
    std::string seconds = StepText("%g", step.timeoutS);
    for (char& c : seconds)
        c = c == '.' ? ',' : c;
    Say(SAY_ALWAYS, "%s: INT-Taste drücken (bis zu %s s)", step.name.c_str(), seconds.c_str());
    double taken = LinesWaitLevel(bench->lines, LINE_INT_IN, 1, step.timeoutS * 1000);
    if (taken == -2 || LinesFailed(bench->lines)) {
        Ended(bench, I2C_LINE_FAILED, 0, done);
    } else if (taken < 0) {
        done->outcome = OUTCOME_FAILED;
        done->detail = StepText("INT nicht in %s s gedrückt (CTS blieb aus)", seconds.c_str());
    } else {
        done->outcome = OUTCOME_OK;
    }
}

// By hand: the question, answered j or n on a line.
void Question(Bench* bench, const PlanStep& step, StepDone* done)
{
    for (;;) {
        Say(SAY_ALWAYS, "%s (j/n):", step.question.c_str());
        std::string answer;
        if (!ReadLine(&answer)) {
            done->outcome = LinesStopped(bench->lines) ? OUTCOME_ABORTED : OUTCOME_FAILED;
            done->detail = LinesStopped(bench->lines) ? "abgebrochen" : "keine Antwort (Eingabe zu Ende)";
            return;
        }
        if (answer == "j" || answer == "J" || answer == "n" || answer == "N") {
            done->outcome = answer == "j" || answer == "J" ? OUTCOME_OK : OUTCOME_FAILED;
            done->detail = done->outcome == OUTCOME_OK ? "" : "Antwort: nein";
            return;
        }
    }
}

}  // namespace

bool MeasuredOutside(const Measured& m) { return m.measured && m.limited && (m.value < m.low || m.value > m.high); }

std::string MeasuredWords(const Measured& m)
{
    auto Number = [&](double value) {
        std::string text = StepText("%.*f", m.decimals, value);
        for (char& c : text)
            c = c == '.' ? ',' : c;
        return text;
    };
    std::string unit = m.unit.empty() ? "" : " " + m.unit;
    std::string words = m.name + " " + (m.measured ? Number(m.value) + unit : "nicht gemessen");
    if (m.limited && m.low == m.high)
        return words + ", erwartet " + Number(m.low) + unit;
    if (m.limited)
        return words + ", erlaubt " + Number(m.low) + " bis " + Number(m.high) + unit;
    return words;
}

void RunBusStep(Bench* bench, const Plan& plan, StepDone* done)
{
    if (!Begun(bench, done))
        return;
    bool found[128] = {};
    I2cStatus status = Scan(&bench->master, 0x08, 0x77, found, nullptr);
    if (Ended(bench, status, 0, done))
        return;
    int unexpected = 0;
    std::string missing, extra;
    for (int address = 0x08; address <= 0x77; address++) {
        if (plan.chips[address])
            done->measurements.push_back(
                Limited(StepText("Baustein 0x%02x", address).c_str(), "", true, found[address], 1, 1, 0));
        if (plan.chips[address] && !found[address])
            missing += StepText(" %02x", address);
        if (!plan.chips[address] && found[address])
            unexpected++, extra += StepText(" %02x", address);
    }
    done->measurements.push_back(Limited("unerwartete Bausteine", "", true, unexpected, 0, 0, 0));
    done->outcome = missing.empty() && extra.empty() ? OUTCOME_OK : OUTCOME_FAILED;
    if (!missing.empty())
        done->detail = "fehlt:" + missing;
    if (!extra.empty())
        done->detail += (done->detail.empty() ? "" : "; ") + std::string("zu viel:") + extra;
}

void RunPlanStep(Bench* bench, const PlanStep& step, StepDone* done)
{
    static void (*const KINDS[])(Bench*, const PlanStep&, StepDone*) = {
        Eeprom, RegisterWrite, Reading, Reading, Expander, Int, Question};
    done->kind = PLAN_KIND_NAMES[step.kind];
    // The steps by hand need no master; every other one begins it once.
    if (step.kind == KIND_INT || step.kind == KIND_QUESTION || Begun(bench, done))
        KINDS[step.kind](bench, step, done);
}

bool ReadLine(std::string* line)
{
    line->clear();
    char buffer[256];
    for (;;) {
        errno = 0;
        if (!fgets(buffer, sizeof buffer, stdin)) {
            // A stop (a signal without restart) ends the wait as the input's end does.
            clearerr(stdin);
            if (!line->empty())
                break;
            return false;
        }
        *line += buffer;
        if (!line->empty() && line->back() == '\n')
            break;
    }
    size_t begin = line->find_first_not_of(" \t\r\n"), end = line->find_last_not_of(" \t\r\n");
    *line = begin == std::string::npos ? "" : FromUtf8(line->substr(begin, end - begin + 1));
    return true;
}
