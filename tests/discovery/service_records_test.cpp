// The names and TXT records a lab's browser shows: fitted to DNS's limits
// without ever splitting a UTF-8 character.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "scpi/service_records.h"

namespace tarnel::scpi {
namespace {

TEST(ServiceRecords, FitUtf8CutsOnlyBetweenCharacters) {
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string fitted;
    };
    const std::vector<Case> cases = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc"},
        {"", 0, ""},
        {"ab\xC3\xA9", 3, "ab"},               // é (2 bytes) would not fit whole
        {"ab\xC3\xA9", 4, "ab\xC3\xA9"},
        {"\xE2\x82\xAC\xE2\x82\xAC", 5, "\xE2\x82\xAC"},  // € € in 5 bytes: one
        {"a\xF0\x9F\x98\x80", 4, "a"},          // a 4-byte character cut in its last byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitUtf8(c.text, c.maxBytes), c.fitted) << c.text << " in " << c.maxBytes;
    }
}

TEST(ServiceRecords, InstanceNamesNameTheBoardAndTheHostInOneLabel) {
    EXPECT_EQ(BoardInstanceName("1-1.2", "labpc"), "Tarnel board 1-1.2 on labpc");
    EXPECT_EQ(Vxi11HostInstanceName("labpc"), "Tarnel boards on labpc");

    const std::string longHost(80, 'h');
    for (const std::string& name : {BoardInstanceName("3-2.4.1", longHost), Vxi11HostInstanceName(longHost)}) {
        EXPECT_EQ(name.size(), kMaxInstanceNameBytes) << name;
    }
    EXPECT_EQ(BoardInstanceName("3-2.4.1", longHost).rfind("Tarnel board 3-2.4.1 on hhh", 0), 0u);
}

TEST(ServiceRecords, TxtRecordsCarryTheIdentityFieldsGivenInOrder) {
    EXPECT_EQ(InstrumentTxtRecords({"Velorn", "Tarnel Evaluation Board", "bench A", "2.1"}),
              (std::vector<std::string>{"txtvers=1", "Manufacturer=Velorn", "Model=Tarnel Evaluation Board",
                                        "SerialNumber=bench A", "FirmwareVersion=2.1"}));
    // An unknown field is left out rather than sent empty.
    EXPECT_EQ(InstrumentTxtRecords({"Velorn", "", "", "2.1"}),
              (std::vector<std::string>{"txtvers=1", "Manufacturer=Velorn", "FirmwareVersion=2.1"}));

    const auto records = InstrumentTxtRecords({"", "", std::string(400, 'n'), ""});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].size(), kMaxTxtStringBytes);
    EXPECT_EQ(records[1].rfind("SerialNumber=nnn", 0), 0u);
}

}  // namespace
}  // namespace tarnel::scpi
