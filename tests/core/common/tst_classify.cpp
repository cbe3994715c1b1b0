#include "core/common/classify.h"
#include "core/common/gbk.h"
#include "testenv.h"

#include <QTemporaryDir>

class TestClassify : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_count = 0;

    QString fileWith(const QByteArray &bytes)
    {
        const QString path = m_dir.path() + QStringLiteral("/f%1").arg(++m_count);
        fntest::writeFile(path, bytes);
        return path;
    }

private Q_SLOTS:
    void mediaTypes_data()
    {
        QTest::addColumn<QString>("mediaType");
        QTest::addColumn<QString>("extension");
        QTest::newRow("pdf") << "application/pdf"
                             << "pdf";
        QTest::newRow("pdf in mixed case") << "Application/PDF"
                                           << "pdf";
        QTest::newRow("tiff shortened") << "image/tiff"
                                        << "tif";
        QTest::newRow("x-png") << "image/x-png"
                               << "png";
        QTest::newRow("text/plain is plain, not txt") << "text/plain"
                                                      << "plain";
        QTest::newRow("html is its subtype") << "text/html"
                                             << "html";
        QTest::newRow("octet-stream gives nothing") << "application/octet-stream"
                                                    << "";
        QTest::newRow("wildcard gives the major type") << "video/*"
                                                       << "video";
        QTest::newRow("empty subtype gives the major type") << "image/"
                                                            << "image";
        QTest::newRow("unknown subtype unchanged") << "application/msword"
                                                   << "application/msword";
        QTest::newRow("no slash unchanged") << "pdf"
                                            << "pdf";
        QTest::newRow("two slashes unchanged") << "a/b/c"
                                               << "a/b/c";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("spaces inside the subtype") << "audio/ x - wav"
                                                   << "wav";
        QTest::newRow("unknown major unchanged") << "Model/VRML"
                                                 << "Model/VRML";
        QTest::newRow("caj") << "application/caj"
                             << "caj";
        QTest::newRow("mpeg4") << "video/mpeg4"
                               << "mp4";
    }
    void mediaTypes()
    {
        QFETCH(QString, mediaType);
        QFETCH(QString, extension);
        QCOMPARE(MediaTypeToExtension(mediaType), extension);
    }

    void sniffFileType_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QTest::newRow("pdf") << QByteArray("%PDF-1.4\n...") << "PDF";
        QTest::newRow("caj") << QByteArray("\xC8\x00\x00\x00rest", 8) << "CAJ";
        QTest::newRow("CAJ zero is answered KDH") << QByteArray("CAJ\x00rest", 8) << "KDH";
        QTest::newRow("kdh") << QByteArray("KDH rest") << "KDH";
        QTest::newRow("tif") << QByteArray("II*\x00xxxx", 8) << "TIF";
        QTest::newRow("three-byte MZ file") << QByteArray("MZx") << "EXE";
        QTest::newRow("two-byte MZ file is too short") << QByteArray("MZ") << "";
        QTest::newRow("rar") << QByteArray("Rar!\x1a") << "RAR";
        QTest::newRow("zip") << QByteArray("PK\x03\x04\x14\x00", 6) << "ZIP";
        QTest::newRow("zip needs its fifth byte") << QByteArray("PK\x03\x04\x0a\x00", 6) << "";
        QTest::newRow("id3 v3") << QByteArray("ID3\x03rest") << "MP3";
        QTest::newRow("id3 v4 without TAG") << QByteArray("ID3\x04") + QByteArray(300, 'a') << "";
        QTest::newRow("id3 v4 with TAG at the end")
            << QByteArray("ID3\x04") + QByteArray(300, 'a') + "TAG" + QByteArray(125, 'b') << "MP3";
        QByteArray doc("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
        doc.append(QByteArray(512 - 8, '\0'));
        QTest::newRow("word") << doc + QByteArray("\xEC\xA5\xC1\x00", 4) + QByteArray(100, '\0') << "DOC";
        QTest::newRow("excel") << doc + QByteArray("\x09\x08\x10\x00", 4) << "XLS";
        QTest::newRow("other compound") << doc + QByteArray("abcd") << "";
        QTest::newRow("short compound") << doc.left(300) << "";
        QTest::newRow("plain text") << QByteArray(2000, 'x') << "";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void sniffFileType()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QCOMPARE(sniffedTypeExtension(SniffFileType(fileWith(bytes))), type);
    }

    void sniffFileTypeOfMissingFile()
    {
        QCOMPARE(SniffFileType(m_dir.path() + "/missing"), SniffedType::None);
    }

    void usablePage()
    {
        QVERIFY(!IsUsablePage(QString()));
        QVERIFY(!IsUsablePage(QStringLiteral("<html><title>404 not found</title></html>")));
        QVERIFY(!IsUsablePage(QStringLiteral("<TITLE>没有可以显示的页面，请检查")));
        QVERIFY(!IsUsablePage(QStringLiteral("... error in CHECK! ...")));
        QVERIFY(!IsUsablePage(gbk::decode(gbk::encode(QStringLiteral("<title>HTTP 404 未找到</title>")))));
        QVERIFY(IsUsablePage(QStringLiteral("%PDF-1.4 small paper")));
        QVERIFY(IsUsablePage(QStringLiteral("<title>Results</title>")));
    }

    void sniffPaperType()
    {
        QCOMPARE(SniffPaperType(m_dir.path() + "/missing"), QStringLiteral("文件不存在"));
        QCOMPARE(SniffPaperType(m_dir.path()), QStringLiteral("文件不存在"));
        QCOMPARE(SniffPaperType(fileWith("%PD")), QStringLiteral("未知类型文件"));
        QCOMPARE(SniffPaperType(fileWith("")), QStringLiteral("未知类型文件"));
        QCOMPARE(SniffPaperType(fileWith("%PDF-1.7")), QStringLiteral("PDF"));
        QCOMPARE(SniffPaperType(fileWith(QByteArray("\xC8\x00\x00\x00", 4))), QStringLiteral("CAJ"));
        QCOMPARE(SniffPaperType(fileWith("KDH 1")), QStringLiteral("KDH"));
        QCOMPARE(SniffPaperType(fileWith(QByteArray("HN\x00\x00", 4))), QStringLiteral("NH"));
        QCOMPARE(SniffPaperType(fileWith("<html>")), QStringLiteral("未知类型文件"));
    }
};

FN_TEST_MAIN_CORE(TestClassify)
#include "tst_classify.moc"
