// The plan's reader: toml++ without exceptions gives the tree and where each
// key and value stands; every check below names that place.
#include "station/plan.h"

#include <errno.h>
#include <inttypes.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>

#define TOML_EXCEPTIONS 0
#define TOML_HEADER_ONLY 1
#define TOML_ENABLE_FORMATTERS 0
#define TOML_ENABLE_WINDOWS_COMPAT 0
#include <toml++/toml.h>

#include "console/arguments.h"
#include "console/output.h"
#include "i2c/hexfile.h"
#include "station/sha256.h"

const char* const PLAN_KIND_NAMES[] = {"eeprom",   "register-write", "register-read", "temperature",
                                       "expander", "int",            "question"};

namespace {

// The plan being read, and its first refusal.
struct Reader {
    const char* path;
    std::string* error;
    bool failed;
};

bool Fail(Reader& r, const toml::source_region& where, const char* format, ...) CT_CHECKED_FORMAT;
bool Fail(Reader& r, const toml::source_region& where, const char* format, ...)
{
    char words[400];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(words, sizeof words, format, arguments);
    va_end(arguments);
    char place[40];
    snprintf(place, sizeof place, ":%u:%u: ", static_cast<unsigned>(where.begin.line),
             static_cast<unsigned>(where.begin.column));
    *r.error = std::string(r.path) + place + words;
    r.failed = true;
    return false;
}

// The file's first place, for what concerns the whole plan.
toml::source_region Top()
{
    toml::source_region top{};
    top.begin = {1, 1};
    return top;
}

// The key's own text, as the program's.
std::string Name(const toml::key& key) { return FromUtf8(std::string(key.str())); }

// Refuses the first key of the table that is not allowed.
bool OnlyKeys(Reader& r, const toml::table& table, std::initializer_list<const char*> allowed, const char* where)
{
    for (auto&& [key, node] : table) {
        bool known = std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return key.str() == a; });
        if (!known && node.is_table() && !*where)
            return Fail(r, key.source(), "unbekannte Tabelle [%s]", Name(key).c_str());
        if (!known)
            return Fail(r, key.source(), "unbekannter Schlüssel „%s“%s", Name(key).c_str(), where);
    }
    return true;
}

const char* TypeWords(toml::node_type type)
{
    switch (type) {
    case toml::node_type::string:
        return "ein Text in Anführungszeichen";
    case toml::node_type::integer:
        return "eine ganze Zahl";
    case toml::node_type::floating_point:
        return "eine Zahl";
    case toml::node_type::array:
        return "eine Liste [ ... ]";
    case toml::node_type::table:
        return "eine Tabelle { ... }";
    default:
        return "etwas anderes";
    }
}

// The key's node, nullptr when it is absent (refused when required, at the
// table's place) or of another type (refused; r.failed tells).
const toml::node* Get(Reader& r, const toml::table& table, const char* key, bool required, toml::node_type type)
{
    const toml::node* node = table.get(key);
    if (!node) {
        if (required)
            Fail(r, table.source(), "es fehlt der Schlüssel „%s“", key);
        return nullptr;
    }
    bool number = type == toml::node_type::floating_point && node->type() == toml::node_type::integer;
    if (node->type() != type && !number) {
        Fail(r, node->source(), "„%s“ muss %s sein", key, TypeWords(type));
        return nullptr;
    }
    return node;
}

bool Text(Reader& r, const toml::table& table, const char* key, bool required, std::string* out)
{
    const toml::node* node = Get(r, table, key, required, toml::node_type::string);
    if (node)
        *out = FromUtf8(*node->value<std::string>());
    return !r.failed;
}

// A whole number within low..high (hex: said in hexadecimal), else refused with why.
bool Whole(Reader& r, const toml::table& table, const char* key, bool required, int64_t low, int64_t high,
           const char* why, bool hex, int* out)
{
    const toml::node* node = Get(r, table, key, required, toml::node_type::integer);
    if (!node)
        return !r.failed;
    int64_t value = *node->value<int64_t>();
    if (value < low || value > high)
        return hex ? Fail(r, node->source(), "%s = 0x%" PRIx64 ": %s", key, static_cast<uint64_t>(value), why)
                   : Fail(r, node->source(), "%s = %" PRId64 ": %s", key, value, why);
    *out = static_cast<int>(value);
    return true;
}

bool Address(Reader& r, const toml::table& table, bool required, int* out)
{
    return Whole(r, table, "address", required, 0x08, 0x77, "Adressen gibt es von 0x08 bis 0x77", true, out);
}

bool Measurement(Reader& r, const toml::table& step, PlanMeasurement* m)
{
    const toml::node* node = Get(r, step, "measurement", true, toml::node_type::table);
    if (!node)
        return false;
    const toml::table& table = *node->as_table();
    if (!OnlyKeys(r, table, {"name", "unit", "low", "high"}, " in der Messung") ||
        !Text(r, table, "name", true, &m->name) || !Text(r, table, "unit", false, &m->unit))
        return false;
    const toml::node* low = Get(r, table, "low", true, toml::node_type::floating_point);
    const toml::node* high = low ? Get(r, table, "high", true, toml::node_type::floating_point) : nullptr;
    if (!high)
        return false;
    m->low = *low->value<double>(), m->high = *high->value<double>();
    if (m->low > m->high)
        return Fail(r, low->source(), "untere Grenze %g liegt über der oberen %g", m->low, m->high);
    return true;
}

// The image file of an EEPROM step, beside the plan unless its path is whole.
bool Image(Reader& r, const toml::node& where, PlanStep* step)
{
    std::string path = step->file;
    bool whole = path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':');
    const char* slash = strrchr(r.path, '/');
#ifdef _WIN32
    const char* backslash = strrchr(r.path, '\\');
    slash = backslash > slash ? backslash : slash;
#endif
    if (!whole && slash)
        path = std::string(r.path, static_cast<size_t>(slash - r.path + 1)) + path;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return Fail(r, where.source(), "Datei %s %s", path.c_str(),
                    errno == ENOENT ? "gibt es nicht" : "lässt sich nicht lesen");
    const EepromType& type = *step->type;
    std::string bytes;
    char buffer[4096];
    // A megabyte is more than any image a 24C can take, in either format.
    for (size_t got; bytes.size() <= (1u << 20) && (got = fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, got);
    bool read = !ferror(file);
    fclose(file);
    if (!read)
        return Fail(r, where.source(), "Datei %s lässt sich nicht lesen", path.c_str());
    bool hex = path.size() > 4 && (path.compare(path.size() - 4, 4, ".hex") == 0 ||
                                   path.compare(path.size() - 4, 4, ".HEX") == 0);
    step->image.assign(static_cast<size_t>(type.size), 0xFF);
    if (!hex) {
        if (bytes.empty() || bytes.size() > static_cast<size_t>(type.size))
            return Fail(r, where.source(), "Datei %s: %u Bytes, der %s fasst 1 bis %d", path.c_str(),
                        static_cast<unsigned>(bytes.size()), type.name, type.size);
        std::copy(bytes.begin(), bytes.end(), step->image.begin());
        step->first = 0, step->end = static_cast<int>(bytes.size());
        return true;
    }
    HexImage image;
    std::string why;
    if (!HexParse(bytes, type.size, &image, &why))
        return Fail(r, where.source(), "Datei %s: %s", path.c_str(), why.c_str());
    auto first = std::find(image.given.begin(), image.given.end(), true);
    if (first == image.given.end() || std::find(first, image.given.end(), false) != image.given.end())
        return Fail(r, where.source(), "Datei %s: die Datensätze müssen einen Bereich ohne Lücke füllen", path.c_str());
    std::copy(image.data.begin(), image.data.end(), step->image.begin());
    step->first = static_cast<int>(first - image.given.begin());
    step->end = static_cast<int>(image.given.size());
    return true;
}

bool Eeprom(Reader& r, const toml::table& table, PlanStep* step)
{
    std::string type;
    if (!Text(r, table, "type", true, &type) || !Address(r, table, false, &step->address) ||
        !Text(r, table, "file", true, &step->file))
        return false;
    if (!(step->type = EepromTypeNamed(type.c_str())))
        return Fail(r, table.get("type")->source(), "unbekannter EEPROM-Typ „%s“ (24c01 bis 24c512)", type.c_str());
    if (!EepromAddressFits(*step->type, step->address))
        return Fail(r, table.get(table.get("address") ? "address" : "type")->source(),
                    "ein %s antwortet nicht an 0x%02x", step->type->name, step->address);
    if (step->file.empty())
        return Fail(r, table.get("file")->source(), "„file“ ist leer");
    return Image(r, *table.get("file"), step);
}

// register-write and register-read: the register, the width, the value and mask.
bool Register(Reader& r, const toml::table& table, PlanStep* step)
{
    std::string width = "b";
    if (!Address(r, table, true, &step->address) ||
        !Whole(r, table, "register", false, 0, 0xFF, "ein Register ist ein Byte, 0x00 bis 0xff", true, &step->reg) ||
        !Text(r, table, "width", false, &width))
        return false;
    if (width != "b" && width != "w")
        return Fail(r, table.get("width")->source(), "„width“ ist \"b\" (ein Byte) oder \"w\" (zwei Bytes)");
    step->word = width == "w";
    int top = step->word ? 0xFFFF : 0xFF;
    const char* why = step->word ? "passt nicht in 16 Bit" : "passt nicht in 8 Bit";
    step->mask = top;
    if (step->kind == KIND_REGISTER_READ)
        return Measurement(r, table, &step->measurement);
    return Whole(r, table, "value", true, 0, top, why, true, &step->value) &&
           Whole(r, table, "mask", false, 0, top, why, true, &step->mask);
}

bool Step(Reader& r, const toml::table& table, PlanStep* step)
{
    std::string kind;
    if (!Text(r, table, "name", true, &step->name) || !Text(r, table, "kind", true, &kind))
        return false;
    const char* const* found = std::find_if(PLAN_KIND_NAMES, PLAN_KIND_NAMES + 7,
                                            [&](const char* name) { return kind == name; });
    if (found == PLAN_KIND_NAMES + 7)
        return Fail(r, table.get("kind")->source(),
                    "unbekannte Schrittart „%s“ (eeprom, register-write, register-read, temperature, expander, int, "
                    "question)", kind.c_str());
    step->kind = static_cast<PlanKind>(found - PLAN_KIND_NAMES);
    static const std::initializer_list<const char*> KEYS[] = {
        {"name", "kind", "type", "address", "file"},
        {"name", "kind", "address", "register", "value", "mask", "width"},
        {"name", "kind", "address", "register", "width", "measurement"},
        {"name", "kind", "address", "measurement"},
        {"name", "kind", "address", "pattern"},
        {"name", "kind", "timeout_s"},
        {"name", "kind", "question"}};
    std::string where = " in einem Schritt der Art " + kind;
    if (!OnlyKeys(r, table, KEYS[step->kind], where.c_str()))
        return false;
    switch (step->kind) {
    case KIND_EEPROM:
        return Eeprom(r, table, step);
    case KIND_REGISTER_WRITE:
    case KIND_REGISTER_READ:
        return Register(r, table, step);
    case KIND_TEMPERATURE:
        return Address(r, table, true, &step->address) && Measurement(r, table, &step->measurement);
    case KIND_EXPANDER:
        return Address(r, table, true, &step->address) &&
               Whole(r, table, "pattern", true, 0, 0xFF, "passt nicht in 8 Bit", true, &step->pattern);
    case KIND_INT: {
        const toml::node* timeout = Get(r, table, "timeout_s", false, toml::node_type::floating_point);
        if (timeout && ((step->timeoutS = *timeout->value<double>()) <= 0 || step->timeoutS > 3600))
            return Fail(r, timeout->source(), "timeout_s = %g: erlaubt sind mehr als 0 bis 3600 Sekunden",
                        step->timeoutS);
        return !r.failed;
    }
    case KIND_QUESTION:
        return Text(r, table, "question", true, &step->question);
    }
    return true;
}

bool Document(Reader& r, const toml::table& root, Plan* plan)
{
    if (!OnlyKeys(r, root, {"board", "check", "bus", "step"}, ""))
        return false;
    const toml::node* board = Get(r, root, "board", false, toml::node_type::table);
    if (r.failed)
        return false;
    if (!board)
        return Fail(r, Top(), "es fehlt die Tabelle [board]");
    const toml::table& b = *board->as_table();
    if (!OnlyKeys(r, b, {"name", "version"}, " in [board]") || !Text(r, b, "name", true, &plan->name) ||
        !Text(r, b, "version", false, &plan->version))
        return false;
    if (const toml::node* check = Get(r, root, "check", false, toml::node_type::table)) {
        plan->check = true;
        const toml::table& c = *check->as_table();
        if (!OnlyKeys(r, c, {"repeat"}, " in [check]") ||
            !Whole(r, c, "repeat", false, 1, 1000, "erlaubt sind 1 bis 1000", false, &plan->repeat))
            return false;
    }
    if (const toml::node* bus = Get(r, root, "bus", false, toml::node_type::table)) {
        plan->bus = true;
        const toml::table& t = *bus->as_table();
        const toml::node* chips = OnlyKeys(r, t, {"chips"}, " in [bus]")
                                      ? Get(r, t, "chips", true, toml::node_type::array)
                                      : nullptr;
        if (!chips)
            return false;
        for (const toml::node& chip : *chips->as_array()) {
            std::optional<int64_t> address = chip.value<int64_t>();
            if (!chip.is_integer() || *address < 0x08 || *address > 0x77)
                return Fail(r, chip.source(), "ein Baustein ist eine Adresse von 0x08 bis 0x77");
            plan->chips[*address] = true;
        }
    }
    if (r.failed)
        return false;
    const toml::node* steps = root.get("step");
    if (steps && !steps->is_array_of_tables())
        return Fail(r, steps->source(), "Schritte stehen in [[step]]-Tabellen");
    if (steps)
        for (const toml::node& node : *steps->as_array()) {
            const toml::table& table = *node.as_table();
            PlanStep step;
            if (!Step(r, table, &step))
                return false;
            for (const PlanStep& other : plan->steps)
                if (other.name == step.name)
                    return Fail(r, table.get("name")->source(), "zwei Schritte heißen „%s“", step.name.c_str());
            plan->steps.push_back(step);
        }
    if (!plan->check && !plan->bus && plan->steps.empty())
        return Fail(r, Top(), "der Plan ist leer: keine Prüfung [check], kein [bus], kein [[step]]");
    return true;
}

}  // namespace

bool PlanRead(const char* path, Plan* plan, std::string* error)
{
    Reader r = {path, error, false};
    *plan = Plan();
    plan->path = path;
    const char* base = path;
    for (const char* c = path; *c; c++)
        base = *c == '/' || *c == '\\' ? c + 1 : base;
    plan->file = base;
    FILE* file = fopen(path, "rb");
    if (!file) {
        *error = std::string(path) + (errno == ENOENT ? ": gibt es nicht" : ": lässt sich nicht lesen");
        return false;
    }
    std::string bytes;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, file)) > 0;)
        bytes.append(buffer, got);
    bool read = !ferror(file);
    fclose(file);
    if (!read) {
        *error = std::string(path) + ": lässt sich nicht lesen";
        return false;
    }
    plan->sha256 = Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    toml::parse_result parsed = toml::parse(std::string_view(bytes), std::string_view(path));
    if (!parsed)
        return Fail(r, parsed.error().source(), "kein gültiges TOML: %s",
                    std::string(parsed.error().description()).c_str());
    return Document(r, parsed.table(), plan);
}
