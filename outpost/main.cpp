#include "application.h"

int main(int argc, char** argv) {
    return Tandem::outpostMain(argc, argv);
}
