#pragma once

#include <QDialog>

class QEventLoop;
class QFrame;
class QLabel;
class QProgressBar;
class QTimer;

namespace varnholt {

// The start-up window: the program's name, version, author and web address
// over a "Loading...." bar that fills in half a second, then hides itself.
class frmSplash : public QDialog {
  Q_OBJECT
public:
  explicit frmSplash(QWidget *parent = nullptr);

  // Shows the splash modally and returns once it has hidden itself. (Not
  // QDialog::exec: showing a splash can run the event loop already, and a
  // splash that hid itself then would leave exec waiting for ever.)
  void ShowModal();

  // One tick of timLoading: the bar moves on by the timer's interval and
  // the window hides once the bar is full.
  void timLoading_Timer();

  const QProgressBar *LoadingBar() const { return proLoading; }
  const QTimer *LoadingTimer() const { return timLoading; }

protected:
  void showEvent(QShowEvent *event) override;
  void hideEvent(QHideEvent *event) override;

private:
  void LayOutControls();

  QFrame *Frame1;
  QLabel *lbltitle;
  QLabel *Image1;
  QLabel *Label4;
  QLabel *lblVersion;
  QLabel *Label3;
  QLabel *lblAuthor;
  QLabel *lblWebsite;
  QLabel *Label2;
  QProgressBar *proLoading;
  QTimer *timLoading;
  QEventLoop *modalLoop_ = nullptr;
};

} // namespace varnholt
