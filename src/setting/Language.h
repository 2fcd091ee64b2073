#pragma once

#include <QObject>
#include <QString>
#include <QTranslator>

// The interface language, shared by every page: 0 = Chinese, 1 = English.
// Persisted in <appdir>/config/Language.xml.
class Language : public QObject
{
    Q_OBJECT

public:
    enum Type
    {
        Chinese = 0,
        English = 1
    };

    explicit Language(QObject *parent = nullptr);
    ~Language() override;

    // The live instance, or null when none exists.
    static Language *instance();

    int getLangType() const { return m_langType; }
    QString filePath() const { return m_filePath; }

    // Stores the choice in Language.xml and tells every page.
    void setLanguage(int type);
    // Tells every page the current language (once at start-up).
    void UpdateLangua();

Q_SIGNALS:
    void LanguageChange(int type);

private:
    void read();
    bool write() const;
    // Qt's own texts (the Yes / No / Cancel of boxes, file dialogs) follow
    // the language where the system has Qt's Chinese translation.
    void applyQtTexts();

    QString m_filePath;
    int m_langType = English;
    QTranslator m_qtTexts;
    bool m_qtTextsInstalled = false;
};
