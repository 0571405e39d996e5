/* The Qt side of the C client: a GUI program needs a QApplication, which
   only C++ can make. Everything else the client does in C. */
#ifndef KORVENA_QT_HOST_H
#define KORVENA_QT_HOST_H
#ifdef __cplusplus
extern "C" {
#endif
int hostStartQt(void); /* a QApplication on the offscreen platform; 0 on failure */
/* korvena::UsePlatform of the loaded library: 1 the Qt view, 0 headless. */
int hostUsePlatform(void* library, int qt);
/* Clicks the toolbar's button with this key as a user would; 0 when there is none. */
int hostClick(const char* key);
void hostStopQt(void);
#ifdef __cplusplus
}
#endif
#endif
