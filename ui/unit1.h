// Unit1: the main form, TForm1.
//
// Its layout, texts, colours, skin settings and image references come from
// the form description unit1.ui, compiled in with the images. The published
// members are listed as Qt properties in declaration order. The form owns its
// components. Its one event of its own, the repair button's click, runs the
// repair and nothing else; the repair reports its outcome in a message box.
#ifndef HVQ_UI_UNIT1_H_
#define HVQ_UI_UNIT1_H_

#include <QLabel>
#include <functional>

#include "repair/repair_database.h"
#include "ui/form.h"
#include "ui/message_box.h"
#include "ui/skin.h"

namespace hvq {

class TForm1 : public TForm {
  Q_OBJECT
  Q_PROPERTY(hvq::TsuiForm* suiForm1 MEMBER suiForm1)
  Q_PROPERTY(hvq::TsuiThemeManager* suiThemeManager1 MEMBER suiThemeManager1)
  Q_PROPERTY(hvq::TsuiButton* suiButton1 MEMBER suiButton1)
  Q_PROPERTY(QLabel* lblPhase MEMBER lblPhase)
  Q_PROPERTY(hvq::TsuiURLLabel* suiURLLabel1 MEMBER suiURLLabel1)

 public:
  // Builds the environment a repair runs in around the form's message sink.
  using EnvironmentFactory = std::function<RepairEnvironment(MessageSink&)>;

  explicit TForm1(QWidget* owner);

  TsuiForm* suiForm1 = nullptr;
  TsuiThemeManager* suiThemeManager1 = nullptr;
  TsuiButton* suiButton1 = nullptr;
  QLabel* lblPhase = nullptr;
  TsuiURLLabel* suiURLLabel1 = nullptr;

 public Q_SLOTS:
  void suiButton1Click();

 public:
  // Runs one repair of the data.mdb beside the executable (with the default
  // environment) and shows its outcome.
  void RepairDatabase();

  // Replaces the platform the repair runs on (tests).
  void SetEnvironmentFactory(EnvironmentFactory factory) {
    environment_ = std::move(factory);
  }

 private:
  MessageBoxSink message_box_;
  EnvironmentFactory environment_ = DefaultRepairEnvironment;
};

// The main form, made by the entry.
extern TForm1* Form1;

}  // namespace hvq

#endif  // HVQ_UI_UNIT1_H_
