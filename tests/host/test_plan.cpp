// The station's plan reader: every kind of malformed plan refused with the
// line and column of what is wrong, a good plan read into its values, and
// the plan's SHA-256.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "station/plan.h"
#include "station/sha256.h"

namespace {

// A folder of its own with the plan and its images.
class PlanTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/planXXXXXX";
        ASSERT_TRUE(mkdtemp(name));
        folder = name;
        Write("small.bin", std::string(200, '\x5a'));
        Write("large.bin", std::string(300, '\x5a'));
        // 16 bytes at 0x10 and 16 at 0x30: a gap between them.
        Write("gap.hex", ":10001000000102030405060708090A0B0C0D0E0F68\n"
                         ":10003000000102030405060708090A0B0C0D0E0F48\n:00000001FF\n");
        Write("part.hex", ":10001000000102030405060708090A0B0C0D0E0F68\n:00000001FF\n");
    }
    void TearDown() override { system(("rm -r " + folder).c_str()); }
    void Write(const char* name, const std::string& bytes)
    {
        FILE* file = fopen((folder + "/" + name).c_str(), "wb");
        ASSERT_TRUE(file);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
    }
    std::string folder;
};

const char BOARD[] = "[board]\nname = \"KP-3\"\n";

TEST_F(PlanTest, EveryFaultIsRefusedWithItsLineAndColumn)
{
    const struct {
        const char* what;
        std::string plan;
        const char* place;  // "line:column: " and the start of the words
    } cases[] = {
        {"syntax", "[board\nname = \"x\"\n", "1:7: kein gültiges TOML"},
        {"syntax in a list", std::string(BOARD) + "[bus]\nchips = [0x50, 0x20 0x48]\n", "4:21: kein gültiges TOML"},
        {"unknown table", std::string(BOARD) + "[boards]\nname = \"y\"\n", "3:2: unbekannte Tabelle [boards]"},
        {"unknown key", std::string(BOARD) + "[[step]]\nname = \"a\"\nkind = \"int\"\n  colour = \"rot\"\n",
         "6:3: unbekannter Schlüssel „colour“ in einem Schritt der Art int"},
        {"unknown key in a measurement",
         std::string(BOARD) + "[[step]]\nname = \"T\"\nkind = \"temperature\"\naddress = 0x48\n"
                              "measurement = { name = \"T\", lo = 1, low = 1, high = 2 }\n",
         "7:29: unbekannter Schlüssel „lo“ in der Messung"},
        {"missing key", std::string(BOARD) + "\n[[step]]\nname = \"a\"\n", "4:1: es fehlt der Schlüssel „kind“"},
        {"missing board name", "[board]\nversion = \"B\"\n[check]\n", "1:1: es fehlt der Schlüssel „name“"},
        {"missing board", "[check]\nrepeat = 2\n", "1:1: es fehlt die Tabelle [board]"},
        {"wrong type", std::string(BOARD) + "[check]\nrepeat = \"drei\"\n", "4:10: „repeat“ muss eine ganze Zahl"},
        {"wrong type of a limit",
         std::string(BOARD) + "[[step]]\nname = \"T\"\nkind = \"temperature\"\naddress = 0x48\n"
                              "measurement = { name = \"T\", low = \"kalt\", high = 2 }\n",
         "7:35: „low“ muss eine Zahl sein"},
        {"address too high", std::string(BOARD) + "[[step]]\nname = \"P\"\nkind = \"expander\"\naddress = 0x78\npattern = 1\n",
         "6:11: address = 0x78: Adressen gibt es von 0x08 bis 0x77"},
        {"chip address too low", std::string(BOARD) + "[bus]\nchips = [0x50, 0x07]\n",
         "4:16: ein Baustein ist eine Adresse von 0x08 bis 0x77"},
        {"value wider than a byte",
         std::string(BOARD) + "[[step]]\nname = \"W\"\nkind = \"register-write\"\naddress = 0x20\nvalue = 0x100\n",
         "7:9: value = 0x100: passt nicht in 8 Bit"},
        {"mask wider than a word",
         std::string(BOARD) + "[[step]]\nname = \"W\"\nkind = \"register-write\"\naddress = 0x20\nwidth = \"w\"\n"
                              "value = 0x1234\nmask = 0x10000\n",
         "9:8: mask = 0x10000: passt nicht in 16 Bit"},
        {"pattern wider than a byte",
         std::string(BOARD) + "[[step]]\nname = \"P\"\nkind = \"expander\"\naddress = 0x20\npattern = 0x1FF\n",
         "7:11: pattern = 0x1ff: passt nicht in 8 Bit"},
        {"no such width", std::string(BOARD) + "[[step]]\nname = \"R\"\nkind = \"register-read\"\naddress = 0x48\nwidth = \"d\"\n",
         "7:9: „width“ ist \"b\""},
        {"low above high",
         std::string(BOARD) + "[[step]]\nname = \"T\"\nkind = \"temperature\"\naddress = 0x48\n"
                              "measurement = { name = \"T\", unit = \"°C\", low = 35.0, high = 15.0 }\n",
         "7:48: untere Grenze 35 liegt über der oberen 15"},
        {"unknown kind", std::string(BOARD) + "[[step]]\nname = \"X\"\nkind = \"flash\"\n",
         "5:8: unbekannte Schrittart „flash“"},
        {"unknown EEPROM type", std::string(BOARD) + "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"24c03\"\nfile = \"small.bin\"\n",
         "6:8: unbekannter EEPROM-Typ „24c03“"},
        {"EEPROM at an address it cannot have",
         std::string(BOARD) + "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"24c16\"\naddress = 0x51\nfile = \"small.bin\"\n",
         "7:11: ein 24C16 antwortet nicht an 0x51"},
        {"image missing", std::string(BOARD) + "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"24c02\"\nfile = \"none.bin\"\n",
         "7:8: Datei "},
        {"image larger than the chip",
         std::string(BOARD) + "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"24c02\"\nfile = \"large.bin\"\n",
         "7:8: Datei "},
        {"image with a gap", std::string(BOARD) + "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"24c02\"\nfile = \"gap.hex\"\n",
         "7:8: Datei "},
        {"two steps of one name",
         std::string(BOARD) + "[[step]]\nname = \"A\"\nkind = \"int\"\n[[step]]\nname = \"A\"\nkind = \"question\"\nquestion = \"?\"\n",
         "7:8: zwei Schritte heißen „A“"},
        {"steps as a table", std::string(BOARD) + "[step]\nname = \"A\"\nkind = \"int\"\n", "3:1: Schritte stehen in [[step]]"},
        {"repeat too high", std::string(BOARD) + "[check]\nrepeat = 1001\n", "4:10: repeat = 1001: erlaubt sind 1 bis 1000"},
        {"repeat zero", std::string(BOARD) + "[check]\nrepeat = 0\n", "4:10: repeat = 0: erlaubt sind 1 bis 1000"},
        {"timeout zero", std::string(BOARD) + "[[step]]\nname = \"I\"\nkind = \"int\"\ntimeout_s = 0\n", "6:13: timeout_s = 0"},
        {"empty plan", BOARD, "1:1: der Plan ist leer"},
    };
    for (const auto& c : cases) {
        Write("plan.toml", c.plan);
        std::string path = folder + "/plan.toml", error;
        Plan plan;
        EXPECT_FALSE(PlanRead(path.c_str(), &plan, &error)) << c.what;
        std::string expected = path + ":" + c.place;
        EXPECT_EQ(expected, error.substr(0, expected.size())) << c.what;
    }
}

TEST_F(PlanTest, AGoodPlanIsReadWithItsDefaults)
{
    Write("plan.toml", std::string(BOARD) +
                           "[check]\n[bus]\nchips = [0x50, 0x20]\n"
                           "[[step]]\nname = \"E\"\nkind = \"eeprom\"\ntype = \"AT24C02\"\nfile = \"part.hex\"\n"
                           "[[step]]\nname = \"W\"\nkind = \"register-write\"\naddress = 0x48\nregister = 3\n"
                           "width = \"w\"\nvalue = 0x4b00\n"
                           "[[step]]\nname = \"T\"\nkind = \"temperature\"\naddress = 0x48\n"
                           "measurement = { name = \"Temperatur\", unit = \"°C\", low = -5, high = 35.5 }\n"
                           "[[step]]\nname = \"I\"\nkind = \"int\"\n");
    Plan plan;
    std::string error;
    ASSERT_TRUE(PlanRead((folder + "/plan.toml").c_str(), &plan, &error)) << error;
    EXPECT_EQ("KP-3", plan.name);
    EXPECT_EQ("plan.toml", plan.file);
    EXPECT_TRUE(plan.check && plan.repeat == 1 && plan.bus);
    EXPECT_TRUE(plan.chips[0x50] && plan.chips[0x20] && !plan.chips[0x48]);
    ASSERT_EQ(4u, plan.steps.size());
    const PlanStep& e = plan.steps[0];
    EXPECT_TRUE(e.kind == KIND_EEPROM && e.address == 0x50 && e.type && e.type->size == 256);
    EXPECT_TRUE(e.first == 0x10 && e.end == 0x20 && e.image[0x10] == 0 && e.image[0x1f] == 0x0f);
    const PlanStep& w = plan.steps[1];
    EXPECT_TRUE(w.kind == KIND_REGISTER_WRITE && w.reg == 3 && w.word && w.value == 0x4b00 && w.mask == 0xFFFF);
    const PlanStep& t = plan.steps[2];
    EXPECT_TRUE(t.measurement.low == -5 && t.measurement.high == 35.5 && t.measurement.unit == "°C");
    EXPECT_EQ(20, plan.steps[3].timeoutS);
}

TEST(Sha256, GivesTheStandardsExamples)
{
    const struct {
        std::string text, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // 64 bytes: the length goes into a block of its own.
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.digest, Sha256Hex(reinterpret_cast<const uint8_t*>(c.text.data()), c.text.size())) << c.text;
}

}  // namespace
