#include "platform.h"
#include "startup.h"

#include <QApplication>

int main(int, char** argv) {
    // The program reads no command line: Qt sees the program name alone.
    int qtArgc = 1;
    char* qtArgv[] = { argv[0], nullptr };
    vantaro::ChooseWindowSystem();
    QApplication application(qtArgc, qtArgv);
    return vantaro::RunProgram();
}
