#include "tool_tips.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QToolTip>
#include <QWidget>
#include <gtest/gtest.h>

namespace murako {
namespace {

class WrapLinesTest : public ::testing::Test {
protected:
    // Every line fits the room and the lines read as the text again.
    void ExpectWrapped(const QString& text, int room)
    {
        const QString wrapped = WrapLines(text, metrics, room);
        for (const QString& line : wrapped.split(QLatin1Char('\n')))
            EXPECT_LE(metrics.horizontalAdvance(line), room) << line.toStdString();
        EXPECT_EQ(QString(wrapped).remove(QLatin1Char('\n')), QString(text).remove(QLatin1Char('\n')));
    }

    QFontMetrics metrics{QFont(QStringLiteral("IPAPGothic"), 9)};
};

TEST_F(WrapLinesTest, BreaksAfterSlashesWherePiecesFitAndInsideANameOnlyWhereItDoesNot)
{
    const QString path = QStringLiteral("/srv/プロジェクト資料/最終版/合計");
    EXPECT_EQ(WrapLines(path, metrics, metrics.horizontalAdvance(path)).toStdString(), path.toStdString())
        << "a line that fits stays whole";
    const int room = metrics.horizontalAdvance(QStringLiteral("/srv/プロジェクト資料/最終"));
    EXPECT_EQ(WrapLines(path, metrics, room).toStdString(), "/srv/プロジェクト資料/\n最終版/合計");
    ExpectWrapped(path, room);

    const QString name(200, QLatin1Char('a'));
    ExpectWrapped(name, 300);
    EXPECT_GE(WrapLines(name, metrics, 300).count(QLatin1Char('\n')), 2);
    ExpectWrapped(QStringLiteral("/x/") + name + QStringLiteral("/end (アクセス権がありません)"), 300);
}

TEST_F(WrapLinesTest, BreaksAfterABackslashOnlyWhereItSeparatesNames)
{
    const QString path = QStringLiteral("/srv/ab\\cd");
    const int room = metrics.horizontalAdvance(QStringLiteral("/srv/ab\\c"));
#if defined(_WIN32)
    EXPECT_EQ(WrapLines(path, metrics, room).toStdString(), "/srv/ab\\\ncd");
#else
    EXPECT_EQ(WrapLines(path, metrics, room).toStdString(), "/srv/\nab\\cd") << "a name may hold a backslash";
#endif
}

TEST(WrapToScreen, NoLineOfALongNameIsWiderThanTheScreen)
{
    QWidget widget;
    const QString name = QStringLiteral("/srv/") + QString(400, QChar(u'長')) + QStringLiteral("/合計");
    const int screen = widget.screen()->availableGeometry().width();
    const QStringList lines = WrapToScreen(name, &widget).split(QLatin1Char('\n'));
    EXPECT_GE(lines.size(), 2);
    for (const QString& line : lines)
        EXPECT_LT(QFontMetrics(QToolTip::font()).horizontalAdvance(line), screen);
}

}  // namespace
}  // namespace murako
