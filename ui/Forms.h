#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/Unit1.h"
#include "ui/Unit11.h"
#include "ui/Unit12.h"
#include "ui/Unit13.h"
#include "ui/Unit14.h"
#include "ui/Unit2.h"
#include "ui/Unit4.h"
#include "ui/Unit5.h"
#include "ui/Unit6.h"
#include "ui/Unit7.h"
#include "ui/Unit8.h"
#include "ui/Unit9.h"

namespace velloran::ui {

// Every window of the program, created once at start in a fixed order and destroyed at the end.
struct FormSet {
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm5> form5;
    std::unique_ptr<TForm6> form6;
    std::unique_ptr<TForm7> form7;
    std::unique_ptr<TForm8> form8;
    std::unique_ptr<TForm9> form9;
    std::unique_ptr<TForm11> form11;
    std::unique_ptr<TForm4> form4;
    std::unique_ptr<TForm13> form13;
    std::unique_ptr<TForm14> form14;
    std::unique_ptr<TForm12> form12;

    ~FormSet();
    // Shows the document window and then the main window, which loads the document.
    void Show();
};

// arguments: argv as it stands, program first.
std::unique_ptr<FormSet> CreateForms(const std::vector<std::string>& arguments);

}  // namespace velloran::ui
