/* Help context numbers of the Korvena photo viewer's help topics. The photo
   window and the toolbar both open their help at IDH_PHOTO_VIEWER. */
#define IDH_WELCOME 10
#define IDH_PHOTO_VIEWER 15
#define IDH_TOOLBAR 20
#define IDH_OPTIONS 30
#define IDH_SLIDESHOW 40
#define IDH_KEYS 50
