#pragma once

#include <QString>

// One board of the catalogue (config.xml): which keyboard model it is (by
// the product name the keyboard reports), its files, the newest firmware
// known for it, which pages it has and how its layout is drawn.
struct BoardInfo
{
    QString name;  // compared with the keyboard's whole product name block
    QString file;  // layout file
    QString kf;    // key-function definition file
    double fw = 0; // newest firmware, e.g. 1.05; 0 disables the update question
    bool key = false;
    bool color = false;
    bool shortcuts = false;
    bool macro = false;
    bool setting = false;
    double x = 0; // drawing offsets and the size of one key unit, in pixels
    double y = 0;
    double w = 0;
    double h = 0;
    bool KLE = false; // the settings page offers the layout editor
    int KLEW = 0;
    int KLEH = 0;
    int KLER = 0;
    int KLEC = 0;
    QString selectedPath; // hidapi path of the keyboard to open
};
