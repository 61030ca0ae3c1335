#include "Tessaline/Support/CSVField.hpp"

#include <gtest/gtest.h>

using tessaline::CSVField;

TEST(CSVField, FormulaGuardAndQuoting) {
    EXPECT_EQ(CSVField::escaped("plain.mov"), "plain.mov");
    EXPECT_EQ(CSVField::escaped(""), "");
    EXPECT_EQ(CSVField::escaped("=SUM(A1)"), "'=SUM(A1)");
    EXPECT_EQ(CSVField::escaped("+1"), "'+1");
    EXPECT_EQ(CSVField::escaped("-x"), "'-x");
    EXPECT_EQ(CSVField::escaped("@x"), "'@x");
    EXPECT_EQ(CSVField::escaped("\tx"), "'\tx");
    // A guarded field that also needs quotes keeps the apostrophe inside the quotes.
    EXPECT_EQ(CSVField::escaped("\rx"), "\"'\rx\"");
    EXPECT_EQ(CSVField::escaped("=a,b"), "\"'=a,b\"");
    EXPECT_EQ(CSVField::escaped("a,b"), "\"a,b\"");
    EXPECT_EQ(CSVField::escaped("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CSVField::escaped("line\nbreak"), "\"line\nbreak\"");
    EXPECT_EQ(CSVField::escaped("crlf\r\n"), "\"crlf\r\n\"");
    EXPECT_EQ(CSVField::escaped("mid=dle"), "mid=dle");
}

TEST(CSVField, RowJoinsWithoutTerminator) {
    EXPECT_EQ(CSVField::row({"a", "b,c", "=d"}), "a,\"b,c\",'=d");
    EXPECT_EQ(CSVField::row({}), "");
    EXPECT_EQ(CSVField::row({"", ""}), ",");
}
