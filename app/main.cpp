#include "app/run_panel.h"

int main(int argc, char **argv) {
    return runPanel(argc, argv);
}
