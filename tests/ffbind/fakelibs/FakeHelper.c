/* A library that happens to export a scaling library's name, for the loader's tests. */
void sws_scale(void) {}
