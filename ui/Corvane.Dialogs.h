#pragma once
// Modal dialogs behind one replaceable seam: the windows ask through TDialogs::Current(),
// and tests install their own answers so that nothing ever blocks on a dialog.
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace Corvane {

// What a save dialog is asked to offer.
struct TSaveFileRequest {
  QString Filter;          // one entry, e.g. "Script SQL (*.sql)"
  QString DefaultSuffix;   // appended when the typed name has none
  QString Directory;       // starting folder
  QString ProposedFile;    // full path proposed to the operator
};

// What an open dialog is asked to offer.
struct TOpenFileRequest {
  QString Title;
  QString Filter;     // e.g. "Script SQL (*.sql)"
  QString Directory;  // starting folder
};

class IDialogs {
public:
  virtual ~IDialogs() = default;
  // Warning box with the standard warning title and icon and one OK button.
  virtual void Warning(QWidget* aParent, const QString& aText) = 0;
  // Error box with the standard error title and icon.
  virtual void Error(QWidget* aParent, const QString& aText) = 0;
  // Save dialog; false when cancelled. Confirms before replacing an existing file.
  virtual bool SaveFile(QWidget* aParent, const TSaveFileRequest& aRequest, QString* aFileName) = 0;
  // Open dialog for an existing file; false when cancelled. Answers that install no chooser
  // cancel, so that nothing blocks.
  virtual bool OpenFile(QWidget* aParent, const TOpenFileRequest& aRequest, QString* aFileName) {
    (void)aParent, (void)aRequest, (void)aFileName;
    return false;
  }
};

class TDialogs {
public:
  TDialogs() = delete;
  static IDialogs& Current();
  // Replaces the dialogs; an empty pointer restores the real ones. Returns the previous.
  static std::shared_ptr<IDialogs> Install(std::shared_ptr<IDialogs> aDialogs);
};

// The program's top-level error handling: runs aAction and shows anything that escapes it in
// a modal error box, so the program goes on. Event handlers run through it.
void RunGuarded(QWidget* aParent, const std::function<void()>& aAction);
// The text of the exception being handled; call only inside a catch block.
QString CurrentErrorMessage();

}  // namespace Corvane
