#include <memory>

#include "MainForm.h"
#include "MarlowinApplication.h"

int main(int argc, char** argv)
{
    TMarlowinApplication application(argc, argv);
    try {
        auto form = std::make_unique<TMainForm>();
        MainForm = form.get();
        form->show();
        application.exec();
        // The window's close handler, and with it the settings write, runs here.
        form.reset();
    } catch (...) {
        ShowCurrentException();
    }
    return 0;
}
