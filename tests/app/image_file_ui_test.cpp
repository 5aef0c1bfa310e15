// Image files through the window: the open dialog on Ctrl+O, drops onto Text3, and the messages of
// a failed load.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTest>
#include <QUrl>
#include <memory>
#include <string>

#include "tests/image_file/test_files.h"
#include "window_exchange_fixture.h"

namespace rqm5::test {
namespace {

using testing_files::SRecord2;
using testing_files::TempFolder;

const std::string kEndRecord = "S9030000FC\r\n";

QString NormalisedDump(const MemoryImage& image) {
    return QString::fromStdString(FormatDump(image)).replace("\r\n", "\n");
}

class ImageFileUiTest : public WindowExchangeTest {
  protected:
    void SetUp() override {
        WindowExchangeTest::SetUp();
        firstFile = QString::fromStdString(
            folder.Write("first.mot", SRecord2(0xD0100, {0x11, 0x22, 0x33}) + "\r\n" +
                                          SRecord2(0xD4200, {0xA0, 0xA1}) + "\r\n" + kEndRecord));
        firstImage = std::make_unique<MemoryImage>();
        for (std::uint8_t column = 0; column < 3; ++column) {
            ASSERT_TRUE(firstImage->Store(0xD010, column, 0x11 * (column + 1)));
        }
        ASSERT_TRUE(firstImage->Store(0xD420, 0, 0xA0));
        ASSERT_TRUE(firstImage->Store(0xD420, 1, 0xA1));
        builtIn = std::make_unique<MemoryImage>(window->memoryImage);
        window->Text3->setText("earlier");
    }

    void ShowServiceLayout() {
        window->setServiceLayoutShown(true);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void PressCtrlO() { QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier); }

    TempFolder folder;
    QString firstFile;
    std::unique_ptr<MemoryImage> firstImage;
    std::unique_ptr<MemoryImage> builtIn;
};

TEST_F(ImageFileUiTest, CtrlOInTheServiceLayoutLoadsTheChosenFile) {
    ShowServiceLayout();
    dialogs.fileAnswer = firstFile;
    PressCtrlO();
    ASSERT_EQ(dialogs.fileFilters.size(), 1u);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(window->memoryImage == *firstImage);
    EXPECT_EQ(window->Text3->text(), firstFile);
    EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);
    const QString dump = window->txtMemory->toPlainText();
    EXPECT_TRUE(dump == NormalisedDump(*firstImage));
    EXPECT_TRUE(dump.contains("\nD0100  11 22 33 FF FF FF FF FF FF FF FF FF FF FF FF FF\n"));
}

TEST_F(ImageFileUiTest, OpenDialogListsTheFourFilters) {
    ShowServiceLayout();
    PressCtrlO();
    ASSERT_EQ(dialogs.fileFilters.size(), 1u);
    EXPECT_EQ(dialogs.fileFilters[0].split(";;"),
              QStringList({"MOT & HEX (*.mot *.hex)", "Mot Files (*.mot)", "Hex Files (*.hex)",
                           "All Files (*)"}));
}

TEST_F(ImageFileUiTest, CancelledDialogChangesNothing) {
    ShowServiceLayout();
    const QString dumpBefore = window->txtMemory->toPlainText();
    dialogs.fileAnswer.clear();
    PressCtrlO();
    ASSERT_EQ(dialogs.fileFilters.size(), 1u) << "the dialog was asked";
    EXPECT_EQ(window->Text3->text(), "earlier");
    EXPECT_TRUE(window->memoryImage == *builtIn);
    EXPECT_TRUE(window->txtMemory->toPlainText() == dumpBefore);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ImageFileUiTest, CtrlOOnTheFaceDoesNothing) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    dialogs.fileAnswer = firstFile;
    PressCtrlO();
    EXPECT_TRUE(dialogs.fileFilters.empty());
    EXPECT_TRUE(window->memoryImage == *builtIn);
    EXPECT_EQ(window->Text3->text(), "earlier");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ImageFileUiTest, DropOfThreeFilesLoadsOnlyTheFirst) {
    const QString second =
        QString::fromStdString(folder.Write("second.mot", SRecord2(0xC0000, {0x77}) + "\r\n"));
    const QString third = QString::fromStdString(folder.Write("third.hex", "not a record\r\n"));
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(firstFile), QUrl::fromLocalFile(second), QUrl::fromLocalFile(third)});
    EXPECT_TRUE(DragAndDrop(window->Text3, data));
    EXPECT_EQ(window->Text3->text(), firstFile);
    EXPECT_TRUE(window->memoryImage == *firstImage);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);

    // The dump follows when the service layout is shown later.
    window->setServiceLayoutShown(true);
    EXPECT_TRUE(window->txtMemory->toPlainText() == NormalisedDump(*firstImage));
}

TEST_F(ImageFileUiTest, DropWithoutFilesIsIgnored) {
    QMimeData text;
    text.setText(firstFile);
    QMimeData webLink;
    webLink.setUrls({QUrl("https://example.com/first.mot")});
    QMimeData empty;
    for (QMimeData* data : {&text, &webLink, &empty}) {
        EXPECT_FALSE(DragAndDrop(window->Text3, *data)) << data->formats().join(",").toStdString();
        EXPECT_EQ(window->Text3->text(), "earlier");
        EXPECT_TRUE(window->memoryImage == *builtIn);
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

TEST_F(ImageFileUiTest, FailedLoadIsToldAndLeavesTheImageAsItWas) {
    std::string badChecksum = SRecord2(0xD0200, {0x44, 0x55});
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    struct Case {
        const char* name;
        std::string path;
        QString text;
        QString title;
        MessageIcon icon;
    };
    const Case cases[] = {
        {"bad checksum on line 2",
         folder.Write("bad.mot",
                      SRecord2(0xD0100, {0x99}) + "\r\n" + badChecksum + "\r\n" + kEndRecord),
         "Error Code = 11 ; line number = 2", "Error", MessageIcon::Warning},
        {"short hex line", folder.Write("short.hex", ":0000000100\r\n"),
         "Error Code = 1 ; line number = 1", "Error", MessageIcon::Warning},
        {"missing file", folder.Path("missing.mot"), "File Open Error", "ERROR",
         MessageIcon::Error},
        {"a folder", folder.Path(""), "File Open Error", "ERROR", MessageIcon::Error},
    };
    ShowServiceLayout();
    dialogs.fileAnswer = firstFile;
    PressCtrlO();
    ASSERT_TRUE(window->memoryImage == *firstImage);
    const QString dumpBefore = window->txtMemory->toPlainText();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetRecords();
        dialogs.fileAnswer = QString::fromStdString(c.path);
        PressCtrlO();
        EXPECT_EQ(window->Text3->text(), dialogs.fileAnswer);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, c.text);
        EXPECT_EQ(dialogs.messages[0].title, c.title);
        EXPECT_EQ(dialogs.messages[0].icon, c.icon);
        EXPECT_EQ(dialogs.messages[0].cursor, Qt::WaitCursor) << "hourglass while the box is open";
        EXPECT_EQ(WindowCursor(), Qt::ArrowCursor);
        EXPECT_TRUE(window->memoryImage == *firstImage);
        EXPECT_TRUE(window->txtMemory->toPlainText() == dumpBefore);
    }
}

TEST_F(ImageFileUiTest, DroppedFileThatFailsIsToldTheSameWay) {
    const QString missing = QString::fromStdString(folder.Path("gone.mot"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(missing)});
    DragAndDrop(window->Text3, data);
    EXPECT_EQ(window->Text3->text(), missing);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "File Open Error");
    EXPECT_EQ(dialogs.messages[0].title, "ERROR");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(window->memoryImage == *builtIn);
}

}  // namespace
}  // namespace rqm5::test
