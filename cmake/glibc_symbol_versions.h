/* Force-included into every translation unit of an x86-64 glibc build (CMakeLists.txt).
 *
 * glibc 2.32 and 2.34 moved these functions from libpthread into libc and gave them new
 * default symbol versions there, so a module linked against a newer glibc asks for
 * GLIBC_2.32/2.34 and will not load on an older one (and its wheel's manylinux tag
 * rises with it), although the functions and their behaviour are unchanged. The
 * references are bound to the first version instead, which every glibc has: a newer
 * one as an alias of the same code, an older one in libpthread, which the modules
 * then name as needed (see CMakeLists.txt). */
#if defined(__x86_64__) && defined(__linux__)
__asm__(".symver pthread_getattr_np, pthread_getattr_np@GLIBC_2.2.5");
__asm__(".symver pthread_attr_getstack, pthread_attr_getstack@GLIBC_2.2.5");
__asm__(".symver pthread_key_create, pthread_key_create@GLIBC_2.2.5");
__asm__(".symver pthread_setspecific, pthread_setspecific@GLIBC_2.2.5");
#endif
