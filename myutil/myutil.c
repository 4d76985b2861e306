/* The companion library: C run-time functions exported under a my_ prefix so that FILE streams
 * and variable argument lists made by the media libraries' run-time can be handled by the
 * program through the same run-time. */
#include "../ffbind/MyUtil.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

int my_fclose(FILE* stream) {
    return fclose(stream);
}

FILE* my_fopen(const char* path, const char* mode) {
    return fopen(path, mode);
}

int my_fprintf(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vfprintf(stream, format, args);
    va_end(args);
    return written;
}

size_t my_fread(void* buffer, size_t size, size_t count, FILE* stream) {
    return fread(buffer, size, count, stream);
}

int my_fseek(FILE* stream, long offset, int origin) {
    return fseek(stream, offset, origin);
}

long my_ftell(FILE* stream) {
    return ftell(stream);
}

size_t my_fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    return fwrite(buffer, size, count, stream);
}

int my_snprintf(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, size, format, args);
    va_end(args);
    return written;
}

double my_strtod(const char* text, char** end) {
    return strtod(text, end);
}

char* my_strtok(char* text, const char* delimiters) {
    return strtok(text, delimiters);
}

long my_strtol(const char* text, char** end, int base) {
    return strtol(text, end, base);
}

int my_vsprintf(char* buffer, const char* format, va_list args) {
    return vsprintf(buffer, format, args);
}
