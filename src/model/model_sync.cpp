// Model: the template description files kept true to the connected robot.
#include "korvo/vyr/model.hpp"
#include "model/description_sync.hpp"
#include "model/model_link.hpp"
#include "model/server_urdf.hpp"

namespace korvo::vyr {

void Model::SyncURDF(const std::string& template_urdf_path) {
  const auto& link = vyr_impl::LinkOf(*pimpl_);
  vyr_impl::SyncUrdfTemplate(template_urdf_path,
                             [&link] { return vyr_impl::DownloadServerUrdf(link); });
}

int Model::SyncKinematicsYAML(const std::string& template_yaml_path) {
  const auto& link = vyr_impl::LinkOf(*pimpl_);
  return vyr_impl::SyncKinematicsYamlTemplate(
      template_yaml_path, [&link] { return vyr_impl::DownloadServerUrdf(link); });
}

}  // namespace korvo::vyr
