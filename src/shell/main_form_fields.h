/* What the main form's size field holds: used by the refresh and by the size handler. */
#ifndef KESTROVA_MAIN_FORM_FIELDS_H
#define KESTROVA_MAIN_FORM_FIELDS_H

/*
 * Characters the size field takes and reads back: ten, so that every sector count a device
 * can report (up to 2147483647) survives a refresh whole.
 */
constexpr int kSizeFieldChars = 10;

#endif
