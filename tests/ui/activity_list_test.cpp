// The window's activity list: the newest 150 rows.
#include <gtest/gtest.h>

#include "ui/ActivityListModel.h"

namespace orvane::test {
namespace {

TEST(ActivityList, KeepsTheNewest150Rows) {
    ActivityListModel model;
    for (int i = 1; i <= 151; ++i) {
        model.Append({"who", "when", QByteArray::number(i)});
    }
    ASSERT_EQ(model.rowCount(), 150);
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "2");
    EXPECT_EQ(model.data(model.index(149, 2)).toString(), "151");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "When");
}

}  // namespace
}  // namespace orvane::test
