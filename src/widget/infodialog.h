#pragma once

#include <QDialog>
#include <QString>

class QLabel;

// The About and Help dialogs. Their content comes from about.xml and
// help.xml in the configuration directory:
//   <COMMAND><about>  (or <help>)
//     <title lang="1">English title</title> <title lang="0">中文标题</title>
//     <entry lang="1" heading="Optional heading">Paragraph text</entry> ...
//   </about></COMMAND>
// lang 0 is Chinese, 1 English; entries without lang are shown in both.
class InfoDialog : public QDialog
{
    Q_OBJECT

public:
    enum Kind
    {
        About,
        Help
    };

    InfoDialog(Kind kind, int langType, QWidget *parent = nullptr);

    QString titleText() const { return m_title; }
    // The rich text shown in the body.
    QString bodyHtml() const { return m_body; }

    // Reads the file into a title and an HTML body; false when it cannot be read.
    static bool load(const QString &path, const QString &section, int langType, QString *title,
                     QString *body);

private:
    QString m_title;
    QString m_body;
};
