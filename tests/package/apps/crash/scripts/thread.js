var onThread = true;
TestModule.crash();
