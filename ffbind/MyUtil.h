/* Prototypes of the companion library's C run-time functions (libmyutil.so). */
#ifndef SOUNDPICK_FFBIND_MYUTIL_H
#define SOUNDPICK_FFBIND_MYUTIL_H

#include <stdarg.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

int my_fclose(FILE* stream);
FILE* my_fopen(const char* path, const char* mode);
int my_fprintf(FILE* stream, const char* format, ...);
size_t my_fread(void* buffer, size_t size, size_t count, FILE* stream);
int my_fseek(FILE* stream, long offset, int origin);
long my_ftell(FILE* stream);
size_t my_fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int my_snprintf(char* buffer, size_t size, const char* format, ...);
double my_strtod(const char* text, char** end);
char* my_strtok(char* text, const char* delimiters);
long my_strtol(const char* text, char** end, int base);
int my_vsprintf(char* buffer, const char* format, va_list args);

#ifdef __cplusplus
}
#endif

#endif
