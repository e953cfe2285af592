#include "ui/Forms.h"

namespace velloran::ui {

FormSet::~FormSet() {
    // The main window goes last: the others may still refer to it while they close.
    form14.reset();
    form13.reset();
    form12.reset();
    form4.reset();
    form11.reset();
    form9.reset();
    form8.reset();
    form7.reset();
    form6.reset();
    form5.reset();
    form2.reset();
    form1.reset();
}

void FormSet::Show() {
    form2->show();
    form1->show();
}

std::unique_ptr<FormSet> CreateForms(const std::vector<std::string>& arguments) {
    auto set = std::make_unique<FormSet>();
    set->form1 = std::make_unique<TForm1>(arguments);
    set->form2 = std::make_unique<TForm2>();
    set->form5 = std::make_unique<TForm5>();
    set->form6 = std::make_unique<TForm6>(set->form2.get(), set->form1.get());
    set->form7 = std::make_unique<TForm7>();
    set->form8 = std::make_unique<TForm8>();
    set->form9 = std::make_unique<TForm9>();
    set->form11 = std::make_unique<TForm11>();
    set->form4 = std::make_unique<TForm4>(set->form2.get());
    set->form13 = std::make_unique<TForm13>();
    set->form14 = std::make_unique<TForm14>();
    set->form12 = std::make_unique<TForm12>();
    Forms forms;
    forms.Form2 = set->form2.get();
    forms.Form5 = set->form5.get();
    forms.Form6 = set->form6.get();
    forms.Form7 = set->form7.get();
    forms.Form8 = set->form8.get();
    forms.Form9 = set->form9.get();
    forms.Form11 = set->form11.get();
    forms.Form4 = set->form4.get();
    forms.Form13 = set->form13.get();
    forms.Form14 = set->form14.get();
    forms.Form12 = set->form12.get();
    set->form1->SetForms(forms);
    return set;
}

}  // namespace velloran::ui
