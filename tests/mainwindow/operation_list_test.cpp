#include "mainwindow/editor_fixture.h"

#include "desktop/qt_desktop.h"
#include "platform/paths.h"

namespace varnholt::test {
namespace {

const QString kFilter = QStringLiteral("Varnholt Op Files (*.vop)|*.vop;");

class OperationList : public EditorTest {
protected:
  void SetUp() override { Start(); }
  // An extract of the given corners with a prefix, added through the buttons.
  void AddExtract(const QString &prefix, int right = 9) {
    window->Operations().cmdNewOperation_Click();
    Check("chkExtract")->setChecked(true);
    TypeAndLeave(Box("txtBottomRightX"), QString::number(right));
    Type(Box("txtPrefix"), prefix);
    QTest::mouseClick(Button("cmdAddOperation"), Qt::LeftButton);
  }
  QList<bool> Ticks() const {
    QList<bool> ticks;
    for (int row = 0; row < List("lstOperations")->count(); ++row)
      ticks << (List("lstOperations")->item(row)->checkState() == Qt::Checked);
    return ticks;
  }
  static QStringList Asked(const FileDialogRequest &r) {
    return {r.title, r.filter, r.defaultSuffix, r.initialFolder, r.fileName};
  }
};

// Save with nothing highlighted adds, under the same checks.
TEST_F(OperationList, AddNeedsAPrefixOrSuffixUnlessResultsGoElsewhere) {
  Check("chkExtract")->setChecked(true);
  for (const char *button : {"cmdAddOperation", "cmdSaveOperation"}) {
    ExpectOk("Operation Addition Error",
             "You must specify either a prefix or suffix for the operation\r\n"
             "if you have not opted to output in a different directory!");
    QTest::mouseClick(Button(button), Qt::LeftButton);
  }
  EXPECT_EQ(List("lstOperations")->count(), 0);

  settings.OutputInDiffDir = true;
  Type(Box("txtTopLeftX"), "10"); // clicked straight from the box: it is left first
  QTest::mouseClick(Button("cmdSaveOperation"), Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (10,0)-(10,0) Quality: \"75\""}));
  EXPECT_TRUE(window->Operations().listChanged());
  EXPECT_TRUE(window->Editor().Saved());
}

TEST_F(OperationList, ACopyOnlyOperationIsAskedFor) {
  Type(Box("txtSuffix"), "_copy");
  for (const Answer answer : {Answer::No, Answer::Yes}) {
    EXPECT_EQ(List("lstOperations")->count(), 0);
    EXPECT_FALSE(window->Editor().Saved());
    prompter.expect("Operation Addition", kCopyOnlyText, Buttons::YesNo, Icon::Question, answer);
    QTest::mouseClick(Button("cmdAddOperation"), Qt::LeftButton);
  }
  EXPECT_EQ(Operations(), QStringList({"Extract Whole Image Suffix: \"_copy\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({true}));
}

TEST_F(OperationList, AnInvalidRecordIsRefusedWithItsError) {
  Check("chkResizeImage")->setChecked(true);
  TypeAndLeave(Box("txtResizeWidth"), "0");
  Type(Box("txtPrefix"), "p");
  ExpectOk("Operation Addition Error", "Error in adding operation: Invalid Operation!");
  QTest::mouseClick(Button("cmdAddOperation"), Qt::LeftButton);
  EXPECT_EQ(List("lstOperations")->count(), 0);
  EXPECT_FALSE(window->Operations().listChanged());
  EXPECT_TRUE(EditorAnswers());
}

TEST_F(OperationList, AddSaveOverRemoveAndClick) {
  AddExtract("a_");
  AddExtract("b_");
  EXPECT_EQ(window->Operations().HighlightedOperation(), -1);

  ClickOperation(0);
  EXPECT_EQ(window->Operations().HighlightedOperation(), 0);
  EXPECT_EQ(Box("txtPrefix")->text(), "a_");
  EXPECT_EQ(Box("txtExtractWidth")->text(), "10");
  EXPECT_TRUE(window->Editor().Saved());

  // A new entry goes last, ticked; the highlight stays where it was.
  AddExtract("c_", 19);
  EXPECT_EQ(window->Operations().HighlightedOperation(), 0);
  EXPECT_EQ(Ticks(), QList<bool>({true, true, true}));

  // Save over writes the highlighted entry, keeping its place and tick.
  List("lstOperations")->item(0)->setCheckState(Qt::Unchecked);
  Type(Box("txtPrefix"), "z_");
  QTest::mouseClick(Button("cmdSaveOperation"), Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(19,0) Prefix: \"z_\" Quality: \"75\"",
                                       "Extract (0,0)-(9,0) Prefix: \"b_\" Quality: \"75\"",
                                       "Extract (0,0)-(19,0) Prefix: \"c_\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({false, true, true}));

  // Unsaved edits are given up when an entry is clicked.
  Type(Box("txtPrefix"), "edited");
  ClickOperation(1);
  EXPECT_EQ(Box("txtPrefix")->text(), "b_");
  EXPECT_TRUE(window->Editor().Saved());

  QTest::mouseClick(Button("cmdRemoveOperation"), Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2);
  EXPECT_EQ(window->Operations().HighlightedOperation(), -1);
  EXPECT_EQ(Box("txtPrefix")->text(), "b_") << "the editor keeps the removed operation";
  QTest::mouseClick(Button("cmdRemoveOperation"), Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2) << "nothing highlighted, nothing removed";

  // Reset gives the default operation and leaves the list.
  QTest::mouseClick(Button("cmdNewOperation"), Qt::LeftButton);
  EXPECT_EQ(Box("txtPrefix")->text(), "");
  EXPECT_FALSE(Check("chkExtract")->isChecked());
  EXPECT_EQ(Box("txtExtractWidth")->text(), "1");
  EXPECT_EQ(Operations().size(), 2);
}

TEST_F(OperationList, TheTitleShowsTheListFileAndItsChanges) {
  AddExtract("a_");
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00") << "no file, no mark";

  dialogs.answers.push_back(lists.file("web.vop"));
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  // Ticks are no change of the list.
  List("lstOperations")->item(0)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");
  // An invalid editor saved over an entry keeps the entry but marks the list.
  ClickOperation(0);
  Check("chkResizeImage")->setChecked(true);
  TypeAndLeave(Box("txtResizeWidth"), "0");
  QTest::mouseClick(Button("cmdSaveOperation"), Qt::LeftButton);
  EXPECT_EQ(Operations(), QStringList({"Extract (0,0)-(9,0) Prefix: \"a_\" Quality: \"75\""}));
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop*)");

  QTest::mouseClick(Button("cmdNewList"), Qt::LeftButton);
  EXPECT_EQ(List("lstOperations")->count(), 0);
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00");
  EXPECT_EQ(settings.LoadedFile, "");
}

TEST_F(OperationList, SavingProposesANewFileFirstAndTheLoadedFileLater) {
  ExpectOk("Empty Operation List", "No Operations to Save!");
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  EXPECT_TRUE(dialogs.saved.empty());

  AddExtract("a_");
  AddExtract("b_");
  List("lstOperations")->item(1)->setCheckState(Qt::Unchecked);
  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  ASSERT_EQ(dialogs.saved.size(), 1u);
  EXPECT_EQ(Asked(dialogs.saved[0]),
            QStringList({"Save Operation File as...", kFilter, "vop", lists.path(),
                         AddBackslash(lists.path()) + "NewOpFile.vop"}));
  EXPECT_TRUE(window->Operations().listChanged()) << "cancelled";

  const QString file = lists.file("mine.vop");
  dialogs.answers.push_back(file);
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, file);
  EXPECT_FALSE(window->Operations().listChanged());
  EXPECT_EQ(ReadBytes(file), "1>Extract (0,0)-(9,0) Prefix: \"a_\" Quality: \"75\"\r\n"
                             "0>Extract (0,0)-(9,0) Prefix: \"b_\" Quality: \"75\"\r\n");

  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  EXPECT_EQ(dialogs.saved.back().fileName, file);

  const QString unwritable = lists.file("missing/folder/x.vop");
  dialogs.answers.push_back(unwritable);
  ExpectOk("File Write Error", "Could not save operations to \"" + unwritable +
                                   "\"!\r\n2 - No such file or directory: " + unwritable);
  QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, file);
}

TEST_F(OperationList, OpeningAFileReplacesTheListWithItsTicksAndAnUnreadableOneIsForgotten) {
  AddExtract("old_");
  const QString file = lists.file("web.vop");
  WriteBytes(file, "1>Extract (1,2)-(3,4) Prefix: \"th_\" Format: \"JPG\" Quality: \"90\"\r\n"
                   "0>Extract Whole Image LimitWidth (640) Suffix: \"_640\" Quality: \"75\"\r\n"
                   "no separator here\r\n");
  dialogs.answers.push_back(file);
  ExpectOk("Lines Left Out", "Some lines of \"" + file +
                                 "\" could not be read as operations and are left out of the "
                                 "list:\r\n\r\nLine 3: no separator here");
  QTest::mouseClick(Button("cmdLoadList"), Qt::LeftButton);
  ASSERT_EQ(dialogs.opened.size(), 1u);
  EXPECT_EQ(Asked(dialogs.opened[0]),
            QStringList({"Open Operation File...", kFilter, "vop", lists.path(), ""}));

  EXPECT_EQ(Operations(),
            QStringList({"Extract (1,2)-(3,4) Prefix: \"th_\" Format: \"JPG\" Quality: \"90\"",
                         "Extract Whole Image LimitWidth (640) Suffix: \"_640\" Quality: \"75\""}));
  EXPECT_EQ(Ticks(), QList<bool>({true, false}));
  EXPECT_EQ(settings.LoadedFile, file);
  EXPECT_FALSE(window->Operations().listChanged());
  EXPECT_TRUE(window->Editor().Saved());
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00 (web.vop)");

  dialogs.answers.push_back(std::nullopt);
  QTest::mouseClick(Button("cmdLoadList"), Qt::LeftButton);
  EXPECT_EQ(Operations().size(), 2) << "cancelled";

  // An unreadable file is told, and the list no longer belongs to web.vop.
  const QString missing = lists.file("gone.vop");
  ExpectOk("Varnholt",
           "Could not open operation file \"" + missing +
               "\"\r\n2 - No such file or directory: " + missing,
           Icon::None);
  dialogs.answers.push_back(missing);
  QTest::mouseClick(Button("cmdLoadList"), Qt::LeftButton);
  EXPECT_EQ(settings.LoadedFile, "");
  EXPECT_EQ(window->windowTitle(), "Varnholt 1.00");
}

// Lines the list cannot read are named once on loading; a save over their
// file asks whether they go (Cancel saves nothing, No keeps them at its end),
// a save elsewhere loses nothing and does not ask.
TEST_F(OperationList, LinesLeftOutAreToldOnceAndASaveOverTheirFileAsksFirst) {
  const QByteArray good = "1>Extract Whole Image Prefix: \"a_\" Quality: \"75\"\r\n"
                          "0>Extract Whole Image Prefix: \"b_\" Quality: \"75\"\r\n";
  const QString negative = "1>Extract (-10,0)-(50,50) Suffix: \"_x\" Quality: \"75\"";
  const QString file = lists.file("web.vop"), elsewhere = lists.file("copy.vop");
  WriteBytes(file, "1>Extract Whole Image Prefix: \"a_\" Quality: \"75\"\r\n" + negative.toUtf8() +
                       "\r\n\r\nhello\r\n" +
                       "0>Extract Whole Image Prefix: \"b_\" Quality: \"75\"\r\n");
  const QString original = QString::fromUtf8(ReadBytes(file));
  const auto leftOut = [&](const QString &lines) {
    return "\"" + file + "\" has lines that could not be read as operations:\r\n\r\n" + lines +
           "\r\n\r\nDrop them from the file? (No keeps them at its end, Cancel saves nothing.)";
  };
  ExpectOk("Lines Left Out", "Some lines of \"" + file +
                                 "\" could not be read as operations and are left out of the "
                                 "list:\r\n\r\nLine 2: " +
                                 negative + "\r\nLine 4: hello");
  window->Operations().OperationsFileToList(file);
  EXPECT_EQ(Operations().size(), 2);
  ASSERT_TRUE(prompter.done());

  const struct {
    QString to;
    std::optional<Answer> answer; // none: not asked
    QString lines;                // as the question names them
    QByteArray after;
  } rows[] = {
      {elsewhere, std::nullopt, "", good},
      {file, Answer::Cancel, "Line 2: " + negative + "\r\nLine 4: hello", original.toUtf8()},
      {file, Answer::No, "Line 2: " + negative + "\r\nLine 4: hello",
       good + negative.toUtf8() + "\r\nhello\r\n"},
      {file, Answer::Yes, "Line 3: " + negative + "\r\nLine 4: hello", good},
      {file, std::nullopt, "", good},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.lines.toStdString());
    if (row.answer)
      prompter.expect("Lines Left Out", leftOut(row.lines), Buttons::YesNoCancel, Icon::Question,
                      *row.answer);
    dialogs.answers.push_back(row.to);
    QTest::mouseClick(Button("cmdSaveList"), Qt::LeftButton);
    EXPECT_TRUE(prompter.done());
    EXPECT_EQ(ReadBytes(row.to), row.after);
  }
}

TEST_F(OperationList, ABadTickStopsTheLoadAndTheListBelongsToNoFile) {
  const QString file = lists.file("odd.vop");
  WriteBytes(file, "1>Extract Whole Image Prefix: \"a\" Quality: \"75\"\r\n"
                   "maybe>Extract Whole Image Prefix: \"b\" Quality: \"75\"\r\n"
                   "1>Extract Whole Image Prefix: \"c\" Quality: \"75\"\r\n");
  window->Operations().OperationsFileToList(file);
  EXPECT_EQ(Operations(), QStringList({"Extract Whole Image Prefix: \"a\" Quality: \"75\""}));
  ASSERT_EQ(errors.reports.size(), 1u);
  EXPECT_EQ(errors.reports[0].source, "OperationsFileToList");
  EXPECT_EQ(errors.reports[0].operation, "fileName = \"" + file + "\"");
  EXPECT_EQ(settings.LoadedFile, "") << "a save must not cut the file short";
  EXPECT_TRUE(EditorAnswers());
}

// What the open and save dialogs show for a filter: each pattern once.
TEST(DialogFilter, ShowsEachCaptionWithItsPatternsOnce) {
  const std::pair<QString, QString> cases[] = {
      {kFilter, "Varnholt Op Files (*.vop)"},
      {"Pictures|*.png;*.jpg", "Pictures (*.png *.jpg)"},
      {"Op Files (*.vop)|*.vop;|All|*", "Op Files (*.vop);;All (*)"},
  };
  for (const auto &[pipes, shown] : cases)
    EXPECT_EQ(QtFilterFromPipeFilter(pipes), shown) << pipes.toStdString();
}

} // namespace
} // namespace varnholt::test
