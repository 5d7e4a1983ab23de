// What the About/Settings window says about the program.
#include "dialogs/frm_about.h"

#include "version.h"

namespace varnholt {

QString AboutVersionText() {
  return QString::number(kVersionMajor) + u'.' + QString::number(kVersionMinor) + u'.' +
         QString::number(kVersionRevision);
}

QString AboutDescriptionText() {
  return QStringLiteral(
      "Extracts sections of images out (based on coordinates) and saves them to differnt files. "
      "Extracted images can be resized, suffixed, prefixed and have their format changed "
      "(png,bmp,jpg,gif,tiff,tga,miff).");
}

QString TermsText() {
  const QString blank = QStringLiteral("\r\n\r\n");
  return QStringLiteral(
             "This software is provided 'as is' and any express or implied warranties, including, "
             "but not limited to, the implied ") +
         QStringLiteral("warranties of merchantability and fitness for a particular purpose are "
                        "disclaimed. In no event shall the author be ") +
         QStringLiteral("liable for any direct, indirect, incidental, special, exemplary, or "
                        "consequential damages (including, but not ") +
         QStringLiteral("limited to, procurement of substitute goods or services; loss of use, "
                        "data, or profits; or business interruption) ") +
         QStringLiteral("however caused and on any theory of liability, whether in contract, "
                        "strict liability, or tort (including negligence ") +
         QStringLiteral("or otherwise) arising in any way out of the use of this software, even if "
                        "advised of the possibility of such ") +
         QStringLiteral("damage.") + blank + QStringLiteral("The author (") +
         QString::fromUtf8(kAuthor) +
         QStringLiteral(") and associates take no responsibility for any outcome of using this "
                        "program, its files or its installation.") +
         blank +
         QStringLiteral("If you do not agree to these terms and conditions please remove this "
                        "program and it's asscociated files from your computer.");
}

QString FeedbackAddress() { return QStringLiteral("mailto:") + QString::fromUtf8(kFeedbackMail); }

} // namespace varnholt
