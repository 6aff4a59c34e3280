// Unit1 (see unit1.h).
#include "ui/unit1.h"

#include "ui_unit1.h"

// The images of the form description live in a static library; this
// reference keeps them in every program that uses the form.
static int InitFormResources() {
  Q_INIT_RESOURCE(hvq_repair);
  return 0;
}
[[maybe_unused]] static const int kFormResources = InitFormResources();

namespace hvq {

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* owner) : TForm(owner) {
  Ui::TForm1 description;
  description.setupUi(this);
  suiForm1 = description.suiForm1;
  suiThemeManager1 = description.suiThemeManager1;
  suiButton1 = description.suiButton1;
  lblPhase = description.lblPhase;
  suiURLLabel1 = description.suiURLLabel1;
}

void TForm1::suiButton1Click() { RepairDatabase(); }

void TForm1::RepairDatabase() {
  hvq::RepairDatabase(environment_(message_box_));
}

}  // namespace hvq
