#include "app/windows.h"

int main(int argc, char** argv) {
    return runApplication(argc, argv);
}
