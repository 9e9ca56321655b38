// kx880-ctl's pure pieces: the site plan and the command line, with what bad input gets.
#include <gtest/gtest.h>

#include "ctl/CtlOptions.h"
#include "ctl/Plan.h"

TEST(SitePlan, RowsByColumnNameAndMalformedRowsByLine) {
    std::string error;
    const auto plan =
        ParsePlan("address, pt ,ct,wiring,baud,parity\n3,100,5,3,,\n\n17,1,1,0,4800,even\n", error);
    ASSERT_TRUE(plan) << error;
    ASSERT_EQ(plan->size(), 2u);
    EXPECT_EQ((*plan)[0].address, 3);
    EXPECT_EQ((*plan)[0].pt, 100);
    EXPECT_FALSE((*plan)[0].baud);
    EXPECT_EQ((*plan)[1].line, 4);
    EXPECT_EQ(*(*plan)[1].baud, 4800);
    EXPECT_EQ(*(*plan)[1].parityCode, 2);
    EXPECT_TRUE(ParsePlan("wiring,ct,pt,address\n0,5,100,9\n", error)) << error;
    struct Bad {
        const char* text;
        const char* says;
    };
    for (const Bad& b : std::initializer_list<Bad>{
             {"", "empty"},
             {"address,pt,ct\n1,1,1\n", "line 1"},
             {"address,address,pt,ct,wiring\n3,3,1,1\n", "named twice"},
             {"address,pt,ct,wiring\n1,1,1,0\n0,1,1,0\n", "line 3"},
             {"address,pt,ct,wiring\n256,1,1,0\n", "line 2"},
             {"address,pt,ct,wiring\n1,64001,1,0\n", "line 2"},
             {"address,pt,ct,wiring\n1,1,0,0\n", "line 2"},
             {"address,pt,ct,wiring\n1,1,1,6\n", "line 2"},
             {"address,pt,ct,wiring\n1,1,1\n", "line 2"},
             {"address,pt,ct,wiring\n1,1,1,0\n1,2,2,0\n", "planned twice"},
             {"address,pt,ct,wiring,baud\n1,1,1,0,9601\n", "rate"},
             {"address,pt,ct,wiring,parity\n1,1,1,0,mark\n", "parity"},
         }) {
        error.clear();
        EXPECT_FALSE(ParsePlan(b.text, error)) << b.text;
        EXPECT_NE(error.find(b.says), std::string::npos) << b.text << " -> " << error;
    }
}

TEST(CtlOptions, EachCommandTakesWhatItNeedsAndRefusesTheRest) {
    auto parse = [](std::vector<std::string> args, std::string& error) {
        args.insert(args.begin(), {"kx880-ctl"});
        return ParseCtlOptions(args, false, error);
    };
    std::string error;
    const auto scan = parse({"scan", "--port", "COM1"}, error);
    ASSERT_TRUE(scan) << error;
    EXPECT_EQ(scan->bauds, (std::vector<int>{9600, 19200, 4800, 2400, 1200}));
    EXPECT_EQ(scan->parities, (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(scan->addresses.size(), 255u);
    EXPECT_TRUE(scan->jsonl);  // not a terminal
    const auto some =
        parse({"scan", "--port", "p", "--baud", "4800,1200", "--parity", "odd"}, error);
    ASSERT_TRUE(some) << error;
    EXPECT_EQ(some->bauds, (std::vector<int>{4800, 1200}));
    const auto set = parse(
        {"set", "--port", "p", "--address", "7", "--pt", "100", "--new-parity", "even", "--yes"},
        error);
    ASSERT_TRUE(set) << error;
    EXPECT_EQ(*set->pt, 100);
    EXPECT_EQ(*set->newParity, 2);
    EXPECT_TRUE(set->yes);
    for (const auto& bad : std::vector<std::vector<std::string>>{
             {"scan"},
             {"scan", "--port", "p", "--baud", "9601"},
             {"scan", "--port", "p", "--address", "0"},
             {"get", "--port", "p"},
             {"get", "--port", "p", "--address", "1", "--baud", "9600,4800"},
             {"set", "--port", "p", "--address", "1"},
             {"set", "--port", "p", "--address", "1,2", "--pt", "5"},
             {"set", "--port", "p", "--address", "1", "--ct", "64001"},
             {"set", "--port", "p", "--address", "1", "--wiring", "6"},
             {"set", "--port", "p", "--address", "1", "--new-address", "256"},
             {"get", "--port", "p", "--address", "1", "--pt", "5"},
             {"apply", "--port", "p"},
             {"frobnicate", "--port", "p"},
             {"scan", "--port", "p", "--bogus"},
         }) {
        error.clear();
        EXPECT_FALSE(parse(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
}
