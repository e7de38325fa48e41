// Number fields, stored line breaks, text cuts and the Users page's table changes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "config/PageFields.h"
#include "users/UserEditing.h"

namespace orvane {
namespace {

TEST(NumberField, ReadsLikeAtoi) {
    EXPECT_EQ(AtoiPrefix(QStringLiteral("80abc")), 80);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("")), 0);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("abc")), 0);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("-5")), -5);
    EXPECT_EQ(AtoiPrefix(QStringLiteral(" \t+42 7")), 42);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("- 5")), 0);
}

TEST(NumberField, OnlyTheFirst98CharactersCount) {
    EXPECT_EQ(AtoiPrefix(QString(97, QLatin1Char(' ')) + QStringLiteral("7")), 7);
    EXPECT_EQ(AtoiPrefix(QString(98, QLatin1Char(' ')) + QStringLiteral("7")), 0);
}

TEST(NumberField, HugeNumbersSaturateInsteadOfWrapping) {
    EXPECT_EQ(AtoiPrefix(QStringLiteral("99999999999999999999999")), INT_MAX);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("-99999999999999999999999")), INT_MIN);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("2147483647")), INT_MAX);
    EXPECT_EQ(AtoiPrefix(QStringLiteral("-2147483648")), INT_MIN);
}

TEST(StoredText, LineBreaksAreStoredAsCrLfAndShownAsLineFeeds) {
    EXPECT_EQ(ToStoredLineBreaks(QStringLiteral("Hello\nthere\n")),
              QStringLiteral("Hello\r\nthere\r\n"));
    EXPECT_EQ(ToStoredLineBreaks(QStringLiteral("a\r\nb")), QStringLiteral("a\r\nb"));
    EXPECT_EQ(ToEditLineBreaks(QStringLiteral("a\r\nb")), QStringLiteral("a\nb"));
}

TEST(TextCut, NeverSplitsAUtf8CharacterOrALineBreak) {
    EXPECT_EQ(CutUtf8(QString(130, QLatin1Char('x')), 127).size(), 127);
    // "é" is two bytes: 126 'x' + "é" does not fit in 127, so the "é" goes whole.
    const QByteArray cut = CutUtf8(QString(126, QLatin1Char('x')) + QStringLiteral("é"), 127);
    EXPECT_EQ(cut, QByteArray(126, 'x'));
    EXPECT_EQ(CutUtf8(QStringLiteral("abc\r\ndef"), 4), QByteArray("abc"));
    EXPECT_EQ(CutUtf8(QStringLiteral("€€"), 5), QByteArray("€"));
    EXPECT_EQ(CutUtf8(QString::fromUtf8("ab\0cd", 5), 10), QByteArray("ab"));
}

TEST(TextCut, RecordFieldRoundTripsTypedText) {
    UserRecord record;
    SetRecordText(record.name, kNameSize, QStringLiteral("Jürgen"), 127);
    EXPECT_EQ(RecordText(record.name, kNameSize), QStringLiteral("Jürgen"));
    EXPECT_EQ(std::strlen(record.name), 7u);
}

UserRecord Named(const char* name) {
    UserRecord record;
    CopyText(record.name, kNameSize, name, 127);
    return record;
}

TEST(UserTableEditing, AppendStopsAt98Users) {
    auto table = std::make_unique<UserTable>();
    for (int i = 0; i < 97; ++i) ASSERT_EQ(AppendUser(*table, Named("u")), i);
    EXPECT_EQ(AppendUser(*table, Named("last")), 97);
    EXPECT_EQ(AppendUser(*table, Named("one too many")), -1);
    EXPECT_EQ(table->count, 98);
}

TEST(UserTableEditing, RemovingMovesTheLastUserIntoTheHole) {
    auto table = std::make_unique<UserTable>();
    for (const char* name : {"anna", "bert", "carl"}) AppendUser(*table, Named(name));
    EXPECT_EQ(RemoveUser(*table, 0), 2);
    EXPECT_EQ(table->count, 2);
    EXPECT_STREQ(table->records[0].name, "carl");
    EXPECT_STREQ(table->records[1].name, "bert");
    EXPECT_STREQ(table->records[2].name, "");  // nothing of a deleted user stays behind
    EXPECT_EQ(RemoveUser(*table, 1), -1);
    EXPECT_EQ(RemoveUser(*table, 5), -1);
    EXPECT_EQ(table->count, 1);
}

}  // namespace
}  // namespace orvane
