# 32-bit x86 on an x86-64 Debian machine (g++-multilib): the platform the binary contract comes
# from, where pointers, long and unsigned long are all 4 bytes wide. Used by the m32 preset.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Kernels built without 32-bit support cannot start the tests; qemu's user-mode emulation can.
find_program(CAMSYS_QEMU_I386 qemu-i386)
if(CAMSYS_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CAMSYS_QEMU_I386})
endif()
