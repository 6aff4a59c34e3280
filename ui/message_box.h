// The program's message box and the message sink that uses it.
//
// A box is application-modal, captioned with the application title, has one
// OK button and plain text, and is centred on the screen. It returns when the
// user has closed it.
#ifndef HVQ_UI_MESSAGE_BOX_H_
#define HVQ_UI_MESSAGE_BOX_H_

#include <QMessageBox>
#include <QString>
#include <string_view>

#include "platform/messages.h"

namespace hvq {

void ShowMessageBox(const QString& text,
                    QMessageBox::Icon icon = QMessageBox::NoIcon);

// Shows each message (code page 950) in a box without an icon.
class MessageBoxSink final : public MessageSink {
 public:
  void ShowMessage(std::string_view cp950_text) override;
};

}  // namespace hvq

#endif  // HVQ_UI_MESSAGE_BOX_H_
