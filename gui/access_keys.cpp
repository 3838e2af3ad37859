#include "gui/access_keys.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEvent>
#include <QSet>

#include "lang/lang_table.h"

namespace vardane::gui {
namespace {

bool StartsWord(const QString& text, qsizetype at) {
    return at == 0 || !text[at - 1].isLetterOrNumber();
}

// Position of the letter in text (ignoring case), preferring a word start.
qsizetype FindLetter(const QString& text, QChar letter) {
    qsizetype first = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].toUpper() != letter.toUpper() || (i > 0 && text[i - 1] == u'&')) {
            continue;
        }
        if (StartsWord(text, i)) {
            return i;
        }
        if (first < 0) {
            first = i;
        }
    }
    return first;
}

QString Escaped(const std::string& text) {
    QString escaped = QString::fromStdString(text);
    escaped.replace(u'&', QStringLiteral("&&"));
    return escaped;
}

// The letter marked in text, or a null QChar.
QChar MarkedLetter(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == u'&') {
            if (text[i + 1] != u'&') {
                return text[i + 1].toUpper();
            }
            ++i;
        }
    }
    return {};
}

}  // namespace

QString WithAccessKey(const std::string& text, const std::string& letter) {
    QString marked = Escaped(text);
    const QString key = QString::fromStdString(letter);
    if (key.size() != 1 || !key[0].isLetterOrNumber()) {
        return marked;
    }
    const qsizetype at = FindLetter(marked, key[0]);
    if (at >= 0) {
        marked.insert(at, u'&');
        return marked;
    }
    const QString suffix = QStringLiteral("(&") + key.toUpper() + u')';
    if (marked.endsWith(QStringLiteral("..."))) {
        marked.insert(marked.size() - 3, suffix);
    } else {
        marked.append(suffix);
    }
    return marked;
}

QString AccessText(const LangTable& lang, const std::string& key) {
    return WithAccessKey(lang.GetLangText(key), lang.GetLangText("Access_" + key));
}

void MarkButtonAccessKeys(QWidget* root) {
    const QList<QAbstractButton*> buttons = root->findChildren<QAbstractButton*>();
    QSet<QChar> taken;
    for (QAbstractButton* button : buttons) {
        const QChar letter = MarkedLetter(button->text());
        if (!letter.isNull()) {
            taken.insert(letter);
        }
    }
    for (QAbstractButton* button : buttons) {
        const QString text = button->text();
        if (text.isEmpty() || !MarkedLetter(text).isNull()) {
            continue;
        }
        // ASCII letters only: a key that a keyboard's Alt reaches everywhere.
        auto usable = [&](qsizetype i) {
            const QChar c = text[i].toUpper();
            return c.unicode() < 128 && c.isLetter() && !taken.contains(c) && text[i] != u'&';
        };
        qsizetype pick = -1;
        for (qsizetype i = 0; i < text.size() && pick < 0; ++i) {
            if (StartsWord(text, i) && usable(i)) {
                pick = i;
            }
        }
        for (qsizetype i = 0; i < text.size() && pick < 0; ++i) {
            if (usable(i)) {
                pick = i;
            }
        }
        if (pick < 0) {
            continue;
        }
        taken.insert(text[pick].toUpper());
        QString marked = text;
        marked.replace(u'&', QStringLiteral("&&"));
        // Every '&' before pick doubled: the position moves by their count.
        marked.insert(pick + text.left(pick).count(u'&'), u'&');
        button->setText(marked);
    }
}

bool DialogAccessKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        if (auto* dialog = qobject_cast<QDialog*>(watched)) {
            MarkButtonAccessKeys(dialog);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vardane::gui
