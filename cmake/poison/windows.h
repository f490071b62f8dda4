#error "platform-free library: windows.h is not allowed here"
