#include "AgentMain.h"

int main(int argc, char** argv) {
    return runAgent(argc, argv, liveSources());
}
