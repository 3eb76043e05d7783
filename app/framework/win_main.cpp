// The entry point of the GUI program: the application object already exists (static
// initialisation); its start-up runs here, on the main thread, once.
#include <windows.h>

#include "app/framework/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return velk::ui::RunApplication();
}
