#include "AppTestSupport.h"

// Registered before main runs, so the application exists for every test of the program.
static ::testing::Environment* const applicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new apptest::ApplicationEnvironment);
