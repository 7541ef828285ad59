#include "program_state.h"

ProgramState state;
HINSTANCE programInstance;
