// Message boxes without a display: what the operator reads on the console and which
// answer the program goes on with.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/ConsoleMessageBox.h"

namespace orvane {
namespace {

// Captures what the box writes, through a memory stream in place of standard error.
class CapturedConsole {
public:
    CapturedConsole() : m_file(open_memstream(&m_buffer, &m_size)) {}
    ~CapturedConsole() {
        if (m_file) std::fclose(m_file);
        std::free(m_buffer);
    }
    std::FILE* File() const { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        return std::string(m_buffer, m_size);
    }

private:
    char* m_buffer = nullptr;
    size_t m_size = 0;
    std::FILE* m_file;
};

TEST(ConsoleMessageBox, OkBoxPrintsItsTextAndIsAnsweredOk) {
    CapturedConsole console;
    ASSERT_NE(console.File(), nullptr);
    ConsoleMessageBox box(console.File());

    EXPECT_EQ(box.Show(QStringLiteral("Unable to open the user database."), MessageIcon::Stop),
              MessageAnswer::Ok);
    EXPECT_EQ(box.Show(QStringLiteral("Note"), MessageIcon::None, MessageButtons::Ok),
              MessageAnswer::Ok);

    EXPECT_EQ(console.Text(), "Orvane: Unable to open the user database.\nOrvane: Note\n");
}

TEST(ConsoleMessageBox, YesNoBoxTakesYesAndSaysSo) {
    CapturedConsole console;
    ASSERT_NE(console.File(), nullptr);
    ConsoleMessageBox box(console.File());

    EXPECT_EQ(
        box.Show(QStringLiteral("Really exit?"), MessageIcon::Question, MessageButtons::YesNo),
        MessageAnswer::Yes);

    EXPECT_EQ(console.Text(), "Orvane: Really exit? [Yes/No] Yes\n");
}

TEST(ConsoleMessageBox, TextIsWrittenAsGivenWithoutFormatting) {
    CapturedConsole console;
    ASSERT_NE(console.File(), nullptr);
    ConsoleMessageBox box(console.File());

    // A '%' in a user name or path must not be taken for a format directive.
    box.Show(QStringLiteral("User \"100%s\" <b>"), MessageIcon::Information);

    EXPECT_EQ(console.Text(), "Orvane: User \"100%s\" <b>\n");
}

}  // namespace
}  // namespace orvane
