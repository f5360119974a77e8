// The program body: the application and its main window; nothing else is created at start.
// The connection settings are read at their first use and freed at exit.
#include "Corvane.Application.h"
#include "Corvane.Connection.h"
#include "Corvane.MainForm.h"

int main(int argc, char** argv) {
  int LResult = 0;
  {
    Corvane::TCorvaneApplication LApplication(argc, argv);
    Corvane::TCorvaneView LView;
    Corvane::CorvaneView = &LView;
    LView.show();
    LResult = LApplication.exec();
    Corvane::CorvaneView = nullptr;
  }
  Corvane::TSliceConnection::Release();
  return LResult;
}
