#include "mainwindow/editor_fixture.h"

#include "operations/operation_list_file.h"
#include "settings/paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>

namespace varnholt::test {
namespace {

const QString kCopyOnly = QStringLiteral(
    "This operation will merely copy the original image and save as a different name.\r\n"
    "(You have not selected extract or resize.)\r\n"
    "Are you sure you want to do this?");
const QString kFilter = QStringLiteral("Varnholt Op Files (*.vop)|*.vop;");

class OperationList : public EditorTest {
protected:
  void SetUp() override { Start(); }
  // An extract of the given corners with a prefix, added through the buttons.
  void AddExtract(const QString &prefix, int right = 9) {
    window->cmdNewOperation_Click();
    window->chkExtract->setChecked(true);
    TypeAndLeave(window->txtBottomRightX, QString::number(right));
    Type(window->txtPrefix, prefix);
    QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  }
  void ExpectPrefixOrSuffixRefusal() {
    prompter.expect("Operation Addition Error",
                    "You must specify either a prefix or suffix for the operation\r\n"
                    "if you have not opted to output in a different directory!",
                    Buttons::Ok, Icon::Exclamation, Answer::Ok);
  }
  QList<bool> Ticks() const {
    QList<bool> ticks;
    for (int row = 0; row < window->lstOperations->count(); ++row)
      ticks << (window->lstOperations->item(row)->checkState() == Qt::Checked);
    return ticks;
  }
  QString ListFile(const QString &name, const QByteArray &contents) {
    const QString path = lists.file(name);
    WriteBytes(path, contents);
    return path;
  }
};

TEST_F(OperationList, AddNeedsAPrefixOrSuffixUnlessResultsGoElsewhere) {
  window->chkExtract->setChecked(true);
  ExpectPrefixOrSuffixRefusal();
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(window->lstOperations->count(), 0);

  settings.OutputInDiffDir = true;
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(0,0) Quality: \"75\""}));
  EXPECT_TRUE(window->ListChanged);
  EXPECT_TRUE(window->OperationSaved);
}

TEST_F(OperationList, ACopyOnlyOperationIsAskedFor) {
  Type(window->txtSuffix, "_copy");
  prompter.expect("Operation Addition", kCopyOnly, Buttons::YesNo, Icon::Question, Answer::No);
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(window->lstOperations->count(), 0);
  EXPECT_FALSE(window->OperationSaved);

  prompter.expect("Operation Addition", kCopyOnly, Buttons::YesNo, Icon::Question, Answer::Yes);
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract Whole Image Suffix: \"_copy\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({true}));
}

TEST_F(OperationList, AnInvalidRecordIsRefusedWithItsError) {
  window->chkResizeImage->setChecked(true);
  TypeAndLeave(window->txtResizeWidth, "0");
  Type(window->txtPrefix, "p");
  prompter.expect("Operation Addition Error", "Error in adding operation: Invalid Operation!",
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(window->lstOperations->count(), 0);
  EXPECT_FALSE(window->ListChanged);
  EXPECT_FALSE(window->SettingControls);
}

TEST_F(OperationList, AddSaveOverRemoveAndClick) {
  AddExtract("a_");
  AddExtract("b_");
  EXPECT_EQ(window->HighlightedOperation(), -1);

  ClickOperation(0);
  EXPECT_EQ(window->HighlightedOperation(), 0);
  EXPECT_EQ(window->txtPrefix->text(), "a_");
  EXPECT_EQ(window->txtExtractWidth->text(), "10");
  EXPECT_TRUE(window->OperationSaved);

  // A new entry goes last, ticked; the highlight stays where it was.
  AddExtract("c_", 19);
  EXPECT_EQ(window->HighlightedOperation(), 0);
  EXPECT_EQ(Ticks(), QList<bool>({true, true, true}));

  // Save over writes the highlighted entry, keeping its place and tick.
  window->lstOperations->item(0)->setCheckState(Qt::Unchecked);
  Type(window->txtPrefix, "z_");
  QTest::mouseClick(window->cmdSaveOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(19,0) Prefix: \"z_\" Quality: \"75\"",
                                       "Extract (0,0)-(9,0) Prefix: \"b_\" Quality: \"75\"",
                                       "Extract (0,0)-(19,0) Prefix: \"c_\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({false, true, true}));

  // Unsaved edits are given up when an entry is clicked.
  Type(window->txtPrefix, "edited");
  ClickOperation(1);
  EXPECT_EQ(window->txtPrefix->text(), "b_");
  EXPECT_TRUE(window->OperationSaved);

  QTest::mouseClick(window->cmdRemoveOperation, Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2);
  EXPECT_EQ(window->HighlightedOperation(), -1);
  EXPECT_EQ(window->txtPrefix->text(), "b_") << "the editor keeps the removed operation";
  QTest::mouseClick(window->cmdRemoveOperation, Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2) << "nothing highlighted, nothing removed";

  // Reset: the default operation, the list untouched.
  QTest::mouseClick(window->cmdNewOperation, Qt::LeftButton);
  EXPECT_EQ(window->txtPrefix->text(), "");
  EXPECT_FALSE(window->chkExtract->isChecked());
  EXPECT_EQ(window->txtExtractWidth->text(), "1");
  EXPECT_EQ(Operations().size(), 2);
}

TEST_F(OperationList, ClickingAddStraightFromABoxLeavesTheBoxFirst) {
  window->chkExtract->setChecked(true);
  Type(window->txtPrefix, "p_");
  Type(window->txtTopLeftX, "10"); // the bottom-right corner still says 0
  QTest::mouseClick(window->cmdAddOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (10,0)-(10,0) Prefix: \"p_\" Quality: \"75\""}));
}

TEST_F(OperationList, SaveWithNothingHighlightedAdds) {
  window->chkExtract->setChecked(true);
  ExpectPrefixOrSuffixRefusal();
  QTest::mouseClick(window->cmdSaveOperation, Qt::LeftButton);
  EXPECT_EQ(window->lstOperations->count(), 0);
  Type(window->txtPrefix, "p");
  QTest::mouseClick(window->cmdSaveOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(0,0) Prefix: \"p\" Quality: \"75\""}));
}

TEST_F(OperationList, SavingAnInvalidEditorOverAnEntryKeepsTheEntryButMarksTheList) {
  settings.LoadedFile = lists.file("web.vop");
  AddExtract("a_");
  window->ListChanged = false;
  window->SetWindowTitle();
  ClickOperation(0);
  window->chkResizeImage->setChecked(true);
  TypeAndLeave(window->txtResizeWidth, "0");
  QTest::mouseClick(window->cmdSaveOperation, Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(9,0) Prefix: \"a_\" Quality: \"75\""}));
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop*)");
}

TEST_F(OperationList, TheTitleShowsTheListFileAndItsChanges) {
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00");
  AddExtract("a_");
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00") << "no file, no mark";

  dialogs.answers.push_back(lists.file("web.vop"));
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  // Ticks are no change of the list.
  window->lstOperations->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  AddExtract("b_");
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop*)");

  QTest::mouseClick(window->cmdNewList, Qt::LeftButton);
  EXPECT_EQ(window->lstOperations->count(), 0);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00");
  EXPECT_EQ(settings.LoadedFile, "");
}

TEST_F(OperationList, SavingProposesANewFileFirstAndTheLoadedFileLater) {
  prompter.expect("Empty Operation List", "No Operations to Save!", Buttons::Ok, Icon::Exclamation,
                  Answer::Ok);
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  EXPECT_TRUE(dialogs.saved.empty());

  AddExtract("a_");
  AddExtract("b_");
  window->lstOperations->item(1)->setCheckState(Qt::Unchecked);
  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  ASSERT_EQ(dialogs.saved.size(), 1u);
  EXPECT_EQ(dialogs.saved[0].title, "Save Operation File as...");
  EXPECT_EQ(dialogs.saved[0].filter, kFilter);
  EXPECT_EQ(dialogs.saved[0].defaultSuffix, "vop");
  EXPECT_EQ(dialogs.saved[0].fileName, AddBackslash(lists.path()) + "NewOpFile.vop");
  EXPECT_TRUE(window->ListChanged) << "cancelled";

  const QString file = lists.file("mine.vop");
  dialogs.answers.push_back(file);
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, file);
  EXPECT_FALSE(window->ListChanged);
  EXPECT_EQ(ReadBytes(file), "1>Extract (0,0)-(9,0) Prefix: \"a_\" Quality: \"75\"\r\n"
                             "0>Extract (0,0)-(9,0) Prefix: \"b_\" Quality: \"75\"\r\n");

  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  EXPECT_EQ(dialogs.saved.back().fileName, file);

  const QString unwritable = lists.file("missing/folder/x.vop");
  dialogs.answers.push_back(unwritable);
  QString expectedError;
  Settings scratch;
  SaveOperationsFile(unwritable, {}, scratch, expectedError);
  prompter.expect("File Write Error",
                  "Could not save operations to \"" + unwritable + "\"!\r\n" + expectedError,
                  Buttons::Ok, Icon::Exclamation, Answer::Ok);
  QTest::mouseClick(window->cmdSaveList, Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, file);
}

TEST_F(OperationList, OpeningAFileReplacesTheListWithItsTicks) {
  AddExtract("old_");
  const QString file = ListFile(
      "web.vop", "1>Extract (1,2)-(3,4) Prefix: \"th_\" Format: \"JPG\" Quality: \"90\"\r\n"
                 "0>Extract Whole Image LimitWidth (640) Suffix: \"_640\" Quality: \"75\"\r\n"
                 "no separator here\r\n");
  dialogs.answers.push_back(file);
  QTest::mouseClick(window->cmdLoadList, Qt::LeftButton);
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_EQ(dialogs.opened[0].title, "Open Operation File...");
  EXPECT_EQ(dialogs.opened[0].filter, kFilter);
  EXPECT_EQ(dialogs.opened[0].defaultSuffix, "vop");
  EXPECT_EQ(dialogs.opened[0].initialFolder, lists.path());
  EXPECT_EQ(dialogs.opened[0].fileName, "");

  EXPECT_EQ(Operations(),
            QStringList({"Extract (1,2)-(3,4) Prefix: \"th_\" Format: \"JPG\" Quality: \"90\"",
                         "Extract Whole Image LimitWidth (640) Suffix: \"_640\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({true, false}));
  EXPECT_EQ(settings.LoadedFile, file);
  EXPECT_FALSE(window->ListChanged);
  EXPECT_TRUE(window->OperationSaved);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");

  // Cancel changes nothing.
  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(window->cmdLoadList, Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2);
}

TEST_F(OperationList, AnUnreadableFileIsToldAndForgotten) {
  settings.LoadedFile = lists.file("web.vop");
  const QString missing = lists.file("gone.vop");
  QString expectedError;
  Settings scratch;
  LoadOperationsFile(missing, scratch, expectedError);
  ASSERT_FALSE(expectedError.isEmpty());
  prompter.expect("Varnholt",
                  "Could not open operation file \"" + missing + "\"\r\n" + expectedError,
                  Buttons::Ok, Icon::None, Answer::Ok);
  dialogs.answers.push_back(missing);
  QTest::mouseClick(window->cmdLoadList, Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, "");
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00");
}

TEST_F(OperationList, ABadTickStopsTheLoadAndTheListBelongsToNoFile) {
  const QString file =
      ListFile("odd.vop", "1>Extract Whole Image Prefix: \"a\" Quality: \"75\"\r\n"
                          "maybe>Extract Whole Image Prefix: \"b\" Quality: \"75\"\r\n"
                          "1>Extract Whole Image Prefix: \"c\" Quality: \"75\"\r\n");
  window->OperationsFileToList(file);
  EXPECT_EQ(Operations(), QStringList({"Extract Whole Image Prefix: \"a\" Quality: \"75\""}));
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "OperationsFileToList");
  EXPECT_EQ(errors.reports[0].operation, "fileName = \"" + file + "\"");
  EXPECT_EQ(settings.LoadedFile, "") << "a save must not cut the file short";
  EXPECT_FALSE(window->SettingControls);
}

} // namespace
} // namespace varnholt::test
